#include "logescape.h"

#include <cstdio>
#include <cstring>

namespace keylight {

std::string escapedForLog(const char* text) {
    const size_t length = strlen(text);
    const size_t shown = length < LOGGED_TEXT_MAX ? length : LOGGED_TEXT_MAX;
    std::string out;
    out.reserve(shown);
    for (size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[5];
            snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (shown < length) {
        out += "...(" + std::to_string(length - shown) + " more bytes)";
    }
    return out;
}

}  // namespace keylight
