#include "restorescreenstask.h"

#include "panel.h"
#include "panelpicture.h"

namespace keylight {

RestoreScreensTask::RestoreScreensTask(const PanelPicture& picture) : _picture(picture) {}

void RestoreScreensTask::execute() {
    for (int screen = 0; screen < panelsim::SCREEN_COUNT; ++screen) {
        panelsim::Picture pixels = _picture.screen(screen);
        tft_fill_screen(screen, pixels.data());
    }
}

}  // namespace keylight
