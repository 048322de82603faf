#pragma once

#include <cstdint>

namespace stopwatch {

// A wall-clock reading as gettimeofday gives it. 64-bit fields, so that differences of
// microsecond counts cannot overflow on a 32-bit target.
struct TimeValue {
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
};

// Where every event reads the time. The system clock is the default; tests give their own.
class Clock {
public:
    virtual ~Clock() = default;
    // Fills now and returns true, or returns false when the clock cannot be read.
    virtual bool read(TimeValue& now) = 0;
};

// The process's wall clock (gettimeofday). Lives for the whole process.
Clock& systemClock();

// Milliseconds from start to end.
double millisecondsBetween(const TimeValue& start, const TimeValue& end);

}  // namespace stopwatch
