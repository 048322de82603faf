#include "blinkstate.h"

namespace keylight {

BlinkState::BlinkState(int time) : _first_time(time), _second_time(time) {}

BlinkState::BlinkState(uint8_t firstState, uint8_t secondState, int firstTime, int secondTime)
    : _first_state(firstState),
      _second_state(secondState),
      _first_time(firstTime),
      _second_time(secondTime) {}

int BlinkState::phaseTicks(int time) {
    const int ticks = time / TICK_MS;
    return ticks < 1 ? 1 : ticks;
}

std::optional<int> BlinkState::tick() {
    const int first = phaseTicks(_first_time);
    const int second = phaseTicks(_second_time);
    const int counter = _counter;
    if (counter >= first + second || counter == 0) {
        _counter = 1;
        return _first_state;
    }
    _counter = counter + 1;
    if (counter == first) {
        return _second_state;
    }
    return std::nullopt;
}

}  // namespace keylight
