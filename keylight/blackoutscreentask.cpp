#include "blackoutscreentask.h"

#include "panel.h"

namespace keylight {

BlackoutScreenTask::BlackoutScreenTask(int screenId)
    : _screenId(screenId) {}

void BlackoutScreenTask::execute() {
    tft_blackout(_screenId);
}

}  // namespace keylight
