// lampwatch's command line: `lampwatch [interval]`.
#pragma once

#include <QStringList>

namespace lampwatch {

constexpr int DEFAULT_POLL_INTERVAL_MS = 5000;

// The poll interval in milliseconds from the argument list (program name first). Exactly one
// argument is logged with the whole list and read as a base-10 integer (not a number: 0;
// negative: 5000); none, or two or more, give 5000 without a line.
int pollInterval(const QStringList& arguments);

} // namespace lampwatch
