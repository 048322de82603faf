#include "httpapi.h"

#include <httplib.h>

#include <sstream>

#include "pngencoder.h"

namespace panelsim {

namespace {

constexpr size_t MAX_REQUEST_BODY = 64 * 1024;
constexpr const char* TEXT_PLAIN = "text/plain; charset=utf-8";

void appendBools(std::ostringstream& out, const bool* values, size_t count) {
    out << '[';
    for (size_t i = 0; i < count; ++i)
        out << (i ? "," : "") << (values[i] ? "true" : "false");
    out << ']';
}

std::string rgb565Bytes(const Picture& picture) {
    std::string bytes(picture.size() * 2, '\0');
    for (size_t i = 0; i < picture.size(); ++i) {
        bytes[2 * i] = static_cast<char>(picture[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(picture[i] >> 8);
    }
    return bytes;
}

std::string defaultReason(int status) {
    switch (status) {
    case 400:
        return "malformed request";
    case 404:
        return "no such resource";
    case 405:
        return "method not allowed";
    case 413:
        return "request body too large";
    case 414:
        return "request line too long";
    default:
        return "request refused";
    }
}

}  // namespace

std::optional<unsigned long> parseDecimal(const std::string& text, unsigned long limit) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

void refuse(httplib::Response& res, int status, const std::string& reason) {
    res.status = status;
    res.set_content(reason + "\n", TEXT_PLAIN);
}

bool parseHostPort(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() ||
        text.size() - colon > 6) {
        return false;
    }
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    long value = 0;
    for (char c : text.substr(colon + 1)) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

std::string urlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string stateJson(const BoardState& state, bool statusInputsKnown) {
    std::ostringstream out;
    out << "{\"button_leds\":";
    appendBools(out, state.button_leds.data(), state.button_leds.size());
    out << ",\"status_leds\":";
    appendBools(out, state.status_leds.data(), state.status_leds.size());
    out << ",\"toggle_leds\":";
    appendBools(out, state.toggle_leds.data(), state.toggle_leds.size());
    out << ",\"panel_control\":";
    if (state.panel_control) {
        out << unsigned{*state.panel_control};
    } else {
        out << "null";
    }
    out << ",\"backlight_level\":";
    if (state.backlight_level) {
        out << *state.backlight_level;
    } else {
        out << "null";
    }
    out << ",\"status_inputs\":";
    if (statusInputsKnown) {
        out << state.status_inputs;
    } else {
        out << "null";
    }
    out << ",\"screens\":[";
    for (size_t i = 0; i < state.screens_on.size(); ++i) {
        out << (i ? "," : "") << "{\"on\":" << (state.screens_on[i] ? "true" : "false") << '}';
    }
    out << "],\"accesses\":" << state.accesses << '}';
    return out.str();
}

HttpApi::HttpApi(const BoardSource& board, std::function<std::string()> page)
    : _board(board), _page(std::move(page)) {}

void HttpApi::install(httplib::Server& server) {
    server.set_payload_max_length(MAX_REQUEST_BODY);
    // Short, so that a stop is not held up by idle browser connections for long.
    server.set_keep_alive_timeout(1);

    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(_page(), "text/html; charset=utf-8");
    });

    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(stateJson(_board.state(), _board.knowsStatusInputs()), "application/json");
    });

    server.Get(R"(/api/screen/([^/]*)\.(rgb565|png))", [this](const httplib::Request& req,
                                                              httplib::Response& res) {
        const std::string number = req.matches[1];
        const std::optional<unsigned long> screen = parseDecimal(number, SCREEN_COUNT - 1);
        if (!screen || number.size() != 1) {
            refuse(res, 404, "no screen " + number + ": screens are 0, 1 and 2");
            return;
        }
        const Picture picture = _board.picture(static_cast<int>(*screen));
        res.set_header("Cache-Control", "no-store");
        if (req.matches[2] == "png") {
            const std::string png = encodePng(picture);
            if (png.empty()) {
                refuse(res, 500, "PNG encoding failed");
                return;
            }
            res.set_content(png, "image/png");
        } else {
            res.set_content(rgb565Bytes(picture), "application/octet-stream");
        }
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            refuse(res, res.status, defaultReason(res.status));
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                    std::exception_ptr) { refuse(res, 500, "internal error"); });
}

}  // namespace panelsim
