// The blink cycle of one button LED, counted in ticks of the 20 ms blink timer.
#pragma once

#include <cstdint>
#include <optional>

namespace keylight {

class BlinkState {
public:
    // Milliseconds per timer tick.
    static constexpr int TICK_MS = 20;

    // A cycle that starts dark: time milliseconds dark, then time milliseconds lit.
    explicit BlinkState(int time);
    // A cycle of firstTime milliseconds in firstState, then secondTime in secondState, from
    // its start (a blink that keylight resumes).
    BlinkState(uint8_t firstState, uint8_t secondState, int firstTime, int secondTime);

    uint8_t firstState() const { return _first_state; }
    uint8_t secondState() const { return _second_state; }
    int firstTime() const { return _first_time; }
    int secondTime() const { return _second_time; }

    // Advances the cycle by one tick. Returns the state to post when a phase begins, nothing
    // in between. Each phase lasts time / 20 ticks, and at least one tick whatever the time
    // (a negative time included), so the LED is lit for part of every cycle.
    std::optional<int> tick();

private:
    static int phaseTicks(int time);

    uint8_t _first_state = 0;
    uint8_t _second_state = 1;
    int _first_time;
    int _second_time;
    int _counter = 0;
};

}  // namespace keylight
