// lampwatch's command line: `lampwatch [interval]`.
#pragma once

#include <QStringList>

#include <optional>

namespace lampwatch {

constexpr int DEFAULT_POLL_INTERVAL_MS = 5000;

// The one line printed for a command line that is refused.
constexpr const char* USAGE =
    "usage: lampwatch [INTERVAL_MS]  (milliseconds between polls, at least 1; default 5000)";

// The poll interval in milliseconds from the argument list (program name first). Exactly one
// argument is read as a base-10 integer and logged with the whole list (negative: 5000); none,
// or two or more, give 5000 without a line. Empty, without a line, for a single argument that
// is no number, or 0: a poll interval of 0 would poll without pause.
std::optional<int> pollInterval(const QStringList& arguments);

}  // namespace lampwatch
