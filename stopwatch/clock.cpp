#include "clock.h"

#include <sys/time.h>

namespace stopwatch {

namespace {

class SystemClock : public Clock {
public:
    bool read(TimeValue& now) override {
        timeval tv = {};
        if (gettimeofday(&tv, nullptr) != 0)
            return false;
        now.seconds = tv.tv_sec;
        now.microseconds = tv.tv_usec;
        return true;
    }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

double millisecondsBetween(const TimeValue& start, const TimeValue& end) {
    const std::int64_t startMicroseconds = start.seconds * 1000000 + start.microseconds;
    const std::int64_t endMicroseconds = end.seconds * 1000000 + end.microseconds;
    return static_cast<double>(endMicroseconds - startMicroseconds) / 1000.0;
}

}  // namespace stopwatch
