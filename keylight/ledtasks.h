// The LED tasks: each sets one LED through its function of the panel hardware library.
#pragma once

#include "fpgatask.h"
#include "panel.h"

namespace keylight {

template <int (*SET_LED)(int index, int state)>
class LedTask : public FPGATask {
public:
    LedTask(int index, int state) : _index(index), _state(state) {}
    void execute() override { SET_LED(_index, _state); }

private:
    int _index;
    int _state;
};

// A button LED: state 1 lit, anything else dark.
class SetLEDButtonStateTask : public LedTask<led_button_state> {
public:
    using LedTask::LedTask;
};

// A status indicator LED: state 1 lit, anything else dark.
class SetLEDStatusIndicatorTask : public LedTask<led_status_indicator> {
public:
    using LedTask::LedTask;
};

// A toggle indicator LED (0 is the PSU LED): state 0 or 1.
class SetLEDToggleIndicatorTask : public LedTask<led_toggle_indicator> {
public:
    using LedTask::LedTask;
};

}  // namespace keylight
