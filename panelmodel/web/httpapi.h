// The live page and the read side of the board's HTTP API, shared by panelsim (its live model)
// and panelview (keylight's picture of the panel): board state as JSON, screen pictures, the
// page and the one-line refusals.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fpgamodel.h"

namespace httplib {
class Server;
struct Response;
}  // namespace httplib

namespace panelsim {

// A board the API shows. Each call answers on its own, from one consistent moment.
class BoardSource {
public:
    virtual ~BoardSource() = default;
    virtual BoardState state() const = 0;
    // The picture of screen 0..2.
    virtual Picture picture(int screen) const = 0;
    // False where nothing reads the status inputs: the API says null rather than a guess.
    virtual bool knowsStatusInputs() const = 0;
};

// The model itself, as panelsim serves it.
class LiveBoard : public BoardSource {
public:
    explicit LiveBoard(FpgaModel& model) : _model(model) {}
    BoardState state() const override { return _model.state(); }
    Picture picture(int screen) const override { return _model.picture(screen); }
    bool knowsStatusInputs() const override { return true; }

private:
    FpgaModel& _model;
};

// The state object of /api/state; status_inputs is null unless statusInputsKnown.
std::string stateJson(const BoardState& state, bool statusInputsKnown = true);

// The live page built into the program.
const std::string& builtInPage();

// Answers status with the one-line reason as plain text.
void refuse(httplib::Response& res, int status, const std::string& reason);

// A decimal number without sign, spaces or leading junk, at most limit; nothing otherwise.
std::optional<unsigned long> parseDecimal(const std::string& text, unsigned long limit);

// HOST:PORT or [V6HOST]:PORT, the port decimal 0..65535; false for anything else.
bool parseHostPort(const std::string& text, std::string& host, int& port);

// The host as it goes into a URL: an IPv6 address in brackets.
std::string urlHost(const std::string& host);

class HttpApi {
public:
    // page: the live page's text, asked for at every request of "/".
    HttpApi(const BoardSource& board, std::function<std::string()> page);

    // Registers "/", /api/state, /api/screen/N.rgb565 and .png, and the error answers on
    // server; the caller adds its own routes.
    void install(httplib::Server& server);

private:
    const BoardSource& _board;
    std::function<std::string()> _page;
};

}  // namespace panelsim
