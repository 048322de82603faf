// Text a client sent, as the log shows it.
#pragma once

#include <cstddef>
#include <string>

namespace keylight {

// No more of a client's text goes into one log line: the text of a line on the screen, and
// some. The journal splits a longer line, and the rest would start a line of its own.
constexpr size_t LOGGED_TEXT_MAX = 256;

// text (up to its zero byte) with every control character written as an escape, so that
// nothing a client sends starts a line of the log: \n, \r and \t as those two characters,
// any other as \xNN. Beyond LOGGED_TEXT_MAX bytes the rest is counted, not shown.
std::string escapedForLog(const char* text);

}  // namespace keylight
