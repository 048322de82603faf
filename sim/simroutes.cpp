#include "simroutes.h"

#include <httplib.h>

#include <string>

#include "httpapi.h"

namespace panelsim {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

void installSimRoutes(httplib::Server& server, FpgaModel& model, TraceLog& trace) {
    server.Post("/api/status_inputs",
                [&model](const httplib::Request& req, httplib::Response& res) {
                    const std::optional<unsigned long> bits = parseDecimal(trimmed(req.body), 3);
                    if (!bits) {
                        refuse(res, 400, "status inputs must be a decimal number 0..3");
                        return;
                    }
                    model.setStatusInputs(static_cast<unsigned>(*bits));
                    res.set_content(stateJson(model.state()), "application/json");
                });

    server.Get("/api/trace", [&trace](const httplib::Request& req, httplib::Response& res) {
        size_t count = TraceLog::KEPT_LINES;
        if (req.has_param("tail")) {
            const std::optional<unsigned long> tail =
                parseDecimal(req.get_param_value("tail"), TraceLog::KEPT_LINES);
            if (!tail) {
                refuse(res, 400,
                       "tail must be a decimal number 0.." + std::to_string(TraceLog::KEPT_LINES));
                return;
            }
            count = *tail;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(trace.tail(count), "text/plain; charset=utf-8");
    });

    const auto postOnly = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "POST");
        refuse(res, 405, "use POST with a decimal number 0..3 as the body");
    };
    server.Get("/api/status_inputs", postOnly);
    server.Put("/api/status_inputs", postOnly);
}

}  // namespace panelsim
