// The two table headers exactly as the stopwatch writes them, for comparing whole tables.
#pragma once

#include <string>

namespace stopwatchtest {

inline const std::string deltaHeader =
    "========================================================================================\n"
    "Time Difference Data\n"
    "Event Name     Description                        Num                Average        Last\n"
    "                                                  Samples            (msecs)     (msecs)\n"
    "========================================================================================\n"
    "\n";

inline const std::string timeStampHeader =
    "============================================================================\n"
    "TimeStamp Data\n"
    "Event Name     Description                        Start        End          \n"
    "                                                  Time         Time         \n"
    "============================================================================\n"
    "\n";

}  // namespace stopwatchtest
