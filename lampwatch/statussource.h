// Where the monitor gets the two power-supply status bits.
#pragma once

#include <functional>

namespace lampwatch {

struct StatusSource {
    // Called when the monitor is created and again at every poll until it succeeds: 0 once
    // the bits can be read, else the errno that says why not.
    std::function<int()> open;
    std::function<int()> read;  // called at every poll once open succeeded: the bits, 0..3
};

// The panel hardware: panel_open() first, the register device alone at later attempts (the
// font library is started once per process), status_bits_get() at every poll.
StatusSource hardwareStatusSource();

}  // namespace lampwatch
