// The backlight intensity of all screens, in percent.
#pragma once

#include "fpgatask.h"

namespace keylight {

class SetTFTIntensityTask : public FPGATask {
public:
    explicit SetTFTIntensityTask(int percent);
    void execute() override;

private:
    int _percent;
};

}  // namespace keylight
