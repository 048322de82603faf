// What only panelsim serves over HTTP beside the shared page and API: the PSU input switches
// and the recent trace.
#pragma once

#include "fpgamodel.h"
#include "tracelog.h"

namespace httplib {
class Server;
}

namespace panelsim {

// Registers POST /api/status_inputs and GET /api/trace on server.
void installSimRoutes(httplib::Server& server, FpgaModel& model, TraceLog& trace);

}  // namespace panelsim
