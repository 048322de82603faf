#include "timestamp.h"

#include "tablelayout.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <utility>

namespace stopwatch {

namespace {
const int TABLE_WIDTH = 76;
}

TimeStamp::TimeStamp(std::string name, std::string description, bool verbose, Clock& clock)
    : Event(std::move(name), std::move(description), TimeStampType, verbose, clock) {
    reset();
}

void TimeStamp::start() {
    if (_running)
        return;
    _running = true;
    readTime("Getting the starting time...", _startTime,
             "TimeStamp::start(): gettimeofday() failed\n");
    if (_verbose)
        printTime("_startTime", _startTime);
}

void TimeStamp::stop() {
    if (!_running)
        return;
    if (!readTime("Getting the end time...", _endTime,
                  "TimeStamp::stop():  gettimeofday() failed\n"))
        return;
    if (_verbose)
        printTime("_endTime", _endTime);
    if (_print_on_stop) {
        print(std::cout);
        std::cout << std::endl;
    }
    _running = false;
}

void TimeStamp::reset() {
    _startTime = TimeValue();
    _endTime = TimeValue();
    _running = false;
}

void TimeStamp::printHeader(std::ostream& os) {
    os << separator(TABLE_WIDTH) << std::endl
       << "TimeStamp Data" << std::endl
       << leftAligned("Event Name", 15) << leftAligned("Description", 35)
       << leftAligned("Start", 13) << leftAligned("End", 13) << std::endl
       << leftAligned("", 15) << leftAligned("", 35) << leftAligned("Time", 13)
       << leftAligned("Time", 13) << std::endl
       << separator(TABLE_WIDTH) << std::endl
       << std::endl;
}

void TimeStamp::print(std::ostream& os) {
    if (_header_flag)
        printHeader(os);
    os << leftAligned(_name, 15) << leftAligned(_description, 35)
       << leftAligned(clockTimeText(_startTime), 13) << leftAligned(clockTimeText(_endTime), 13);
}

std::string clockTimeText(const TimeValue& time) {
    const std::time_t seconds = static_cast<std::time_t>(time.seconds);
    std::tm local = {};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(time.microseconds / 1000));
    return text;
}

}  // namespace stopwatch
