// A toggle indicator LED (0 is the PSU LED): state 0 or 1.
#pragma once

#include "fpgatask.h"

namespace keylight {

class SetLEDToggleIndicatorTask : public FPGATask {
public:
    SetLEDToggleIndicatorTask(int index, int state);
    void execute() override;

private:
    int _index;
    int _state;
};

}  // namespace keylight
