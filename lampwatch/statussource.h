// Where the monitor gets the two power-supply status bits.
#pragma once

#include <functional>

namespace lampwatch {

struct StatusSource {
    std::function<void()> open;  // called once, when the monitor is created
    std::function<int()> read;   // called at every poll: the bits, 0..3
};

// The panel hardware: panel_open() once, status_bits_get() at every poll.
StatusSource hardwareStatusSource();

}  // namespace lampwatch
