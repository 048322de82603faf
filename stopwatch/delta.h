#pragma once

#include "event.h"

namespace stopwatch {

// Accumulates the durations of repeated start/stop intervals (milliseconds).
class Delta : public Event {
public:
    Delta(std::string name, std::string description, bool verbose, Clock& clock = systemClock());

    void start() override;
    void stop() override;
    void reset() override;
    void printHeader(std::ostream& os) override;
    void print(std::ostream& os) override;

    int count() const { return _count; }
    double total() const { return _total; }
    double average() const { return _average; }
    double last() const { return _last; }

private:
    int _count = 0;
    double _total = 0.0;
    double _average = 0.0;
    double _last = 0.0;
    TimeValue _startTime;
};

}  // namespace stopwatch
