#include "blackoutscreentask.h"

#include "panel.h"

namespace keylight {

BlackoutScreenTask::BlackoutScreenTask(int screenId) : _screen_id(screenId) {}

void BlackoutScreenTask::execute() {
    tft_blackout(_screen_id);
}

}  // namespace keylight
