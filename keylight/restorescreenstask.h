// Draws the picture of the panel from before keylight's restart back onto the three screens.
#pragma once

#include "fpgatask.h"

namespace keylight {

class PanelPicture;

class RestoreScreensTask : public FPGATask {
public:
    // picture is not owned: it outlives the worker thread.
    explicit RestoreScreensTask(const PanelPicture& picture);
    void execute() override;

private:
    const PanelPicture& _picture;
};

}  // namespace keylight
