// The daemon's HTTP side: board state as JSON, screen pictures, the PSU input switches,
// the recent trace and the live page.
#pragma once

#include <string>

#include "fpgamodel.h"
#include "tracelog.h"

namespace httplib {
class Server;
}

namespace panelsim {

// The state object of /api/state and POST /api/status_inputs.
std::string stateJson(const BoardState& state);

class HttpApi {
public:
    // pagePath: the live page, read at every request so that it can change while the
    // daemon runs; a short placeholder page is served while the file is missing.
    HttpApi(FpgaModel& model, TraceLog& trace, std::string pagePath);

    // Registers every route and the error answers on server.
    void install(httplib::Server& server);

private:
    std::string page() const;

    FpgaModel& _model;
    TraceLog& _trace;
    std::string _page_path;
};

}  // namespace panelsim
