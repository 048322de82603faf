// The panelsim daemon: one FPGA model behind the device socket and the HTTP API.
#pragma once

#include <string>

#include "rootdefaults.h"

namespace panelsim {

struct DaemonOptions {
    std::string root;
    std::string httpHost = "127.0.0.1";
    int httpPort = 8080;  // 0 picks a free port
    std::string pagePath;
    bool layDefaults = false;  // --init
    DefaultSources defaults;
};

// Sets up ROOT (with the default settings and font links when asked), listens on both sides, prints
// the ready line and serves until SIGTERM or SIGINT. Returns the exit status: 0 after a signal, 1
// when it could not start. The caller must have blocked SIGTERM and SIGINT in every thread.
int runDaemon(const DaemonOptions& options);

}  // namespace panelsim
