#pragma once

#include "clock.h"

#include <deque>

// Hands out the readings it was given, in order; an exhausted clock fails like a broken
// gettimeofday.
class FakeClock : public stopwatch::Clock {
public:
    void add(std::int64_t seconds, std::int64_t microseconds) {
        _readings.push_back({seconds, microseconds});
    }
    bool read(stopwatch::TimeValue& now) override {
        if (_readings.empty())
            return false;
        now = _readings.front();
        _readings.pop_front();
        return true;
    }
    std::size_t unread() const { return _readings.size(); }

private:
    std::deque<stopwatch::TimeValue> _readings;
};
