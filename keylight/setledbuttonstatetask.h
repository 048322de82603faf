// A button LED: state 1 lit, anything else dark.
#pragma once

#include "fpgatask.h"

namespace keylight {

class SetLEDButtonStateTask : public FPGATask {
public:
    SetLEDButtonStateTask(int ledIndex, int state);
    void execute() override;

private:
    int _led_index;
    int _state;
};

}  // namespace keylight
