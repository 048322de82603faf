#pragma once

#include "event.h"

namespace stopwatch {

// Records the clock times of one start and one stop.
class TimeStamp : public Event {
public:
    TimeStamp(std::string name, std::string description, bool verbose,
              Clock& clock = systemClock());

    void start() override;
    void stop() override;
    void reset() override;
    void printHeader(std::ostream& os) override;
    void print(std::ostream& os) override;

private:
    TimeValue _startTime;
    TimeValue _endTime;
};

// time as local clock time HH:MM:SS.mmm.
std::string clockTimeText(const TimeValue& time);

}  // namespace stopwatch
