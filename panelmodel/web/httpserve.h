// Running the HTTP server of panelsim and panelview: its port, its accept loop on a thread of
// its own, and the stop signals that end the program.
#pragma once

#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace panelsim {

// Blocks SIGTERM and SIGINT in the calling thread, and so in every thread it starts after, so
// that they reach only waitForStopSignal(); a page closed in the middle of an answer
// (SIGPIPE) is ignored. Call first thing in main.
void blockStopSignals();
// Returns once SIGTERM or SIGINT has arrived.
void waitForStopSignal();

// Binds http to host:port, port 0 meaning a free one. Returns the port, or -1 after the line
// "PROGRAM: cannot listen on HOST:PORT" on standard error.
int bindHttp(httplib::Server& http, const char* program, const std::string& host, int port);
// Runs http's accept loop, bound by bindHttp, on a thread of its own and returns the thread
// once the loop runs: the server ignores a stop that comes earlier, and a stop signal may
// follow the ready line at once.
std::thread runHttp(httplib::Server& http);

}  // namespace panelsim
