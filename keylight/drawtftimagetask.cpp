#include "drawtftimagetask.h"

#include <utility>

#include "panel.h"

namespace keylight {

DrawTFTImageTask::DrawTFTImageTask(int screenId, int x, int y, std::vector<uint8_t> bmp)
    : _screen_id(screenId), _x(x), _y(y), _bmp(std::move(bmp)) {}

void DrawTFTImageTask::execute() {
    tft_draw_bmp(_screen_id, _x, _y, _bmp.data(), _bmp.size());
}

}  // namespace keylight
