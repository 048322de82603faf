#include "delta.h"

#include "tablelayout.h"

#include <iostream>
#include <utility>

namespace stopwatch {

namespace {
const int TABLE_WIDTH = 88;
}

Delta::Delta(std::string name, std::string description, bool verbose, Clock& clock)
    : Event(std::move(name), std::move(description), DeltaType, verbose, clock) {
    reset();
}

void Delta::start() {
    if (_running)
        return;
    _running = true;
    readTime("Getting the starting reference time...", _startTime,
             "Delta::start(): gettimeofday() failed\n");
    if (_verbose)
        printTime("_startTime", _startTime);
}

void Delta::stop() {
    if (!_running)
        return;
    TimeValue now;
    if (!readTime("Getting the current time...", now, "Delta::stop():  gettimeofday() failed\n"))
        return;
    if (_verbose)
        printTime("now", now);
    ++_count;
    _running = false;
    _last = millisecondsBetween(_startTime, now);
    _total += _last;
    _average = _total / _count;
    if (_print_on_stop) {
        print(std::cout);
        std::cout << std::endl;
    }
}

void Delta::reset() {
    _count = 0;
    _total = 0.0;
    _average = 0.0;
    _last = 0.0;
    _startTime = TimeValue();
    _running = false;
}

void Delta::printHeader(std::ostream& os) {
    os << separator(TABLE_WIDTH) << std::endl
       << "Time Difference Data" << std::endl
       << leftAligned("Event Name", 15) << leftAligned("Description", 35) << leftAligned("Num", 14)
       << rightAligned("Average", 12) << rightAligned("Last", 12) << std::endl
       << leftAligned("", 15) << leftAligned("", 35) << leftAligned("Samples", 14)
       << rightAligned("(msecs)", 12) << rightAligned("(msecs)", 12) << std::endl
       << separator(TABLE_WIDTH) << std::endl
       << std::endl;
}

void Delta::print(std::ostream& os) {
    if (_header_flag)
        printHeader(os);
    os << leftAligned(_name, 15) << leftAligned(_description, 35)
       << leftAligned(std::to_string(_count), 14) << rightAligned(fixed3(_average), 12)
       << rightAligned(fixed3(_last), 12);
}

}  // namespace stopwatch
