// Fills a screen, or all three for -1, with black.
#pragma once

#include "fpgatask.h"

namespace keylight {

class BlackoutScreenTask : public FPGATask {
public:
    explicit BlackoutScreenTask(int screenId);
    void execute() override;

private:
    int _screen_id;
};

}  // namespace keylight
