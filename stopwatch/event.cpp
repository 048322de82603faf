#include "event.h"

#include <iostream>
#include <utility>

namespace stopwatch {

Event::Event(std::string name, std::string description, int type, bool verbose, Clock& clock)
    : _verbose(verbose),
      _name(std::move(name)),
      _description(std::move(description)),
      _type(type),
      _clock(clock) {}

Event::~Event() = default;

void Event::printTime(const char* label, const TimeValue& time) {
    std::cout << label << " = " << time.seconds << " seconds, " << time.microseconds << " usecs."
              << std::endl;
}

bool Event::readTime(const char* announcement, TimeValue& time, const char* failure) {
    if (_verbose)
        std::cout << announcement << std::endl;
    if (_clock.read(time))
        return true;
    std::cerr << failure;
    return false;
}

}  // namespace stopwatch
