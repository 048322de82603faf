// A BMP file image drawn with its top-left pixel at (x, y). The task owns its copy of
// the bytes, so the message they came in may be released before the worker draws them.
#pragma once

#include <cstdint>
#include <vector>

#include "fpgatask.h"

namespace keylight {

class DrawTFTImageTask : public FPGATask {
public:
    DrawTFTImageTask(int screenId, int x, int y, std::vector<uint8_t> bmp);
    void execute() override;

private:
    int _screen_id;
    int _x;
    int _y;
    std::vector<uint8_t> _bmp;
};

}  // namespace keylight
