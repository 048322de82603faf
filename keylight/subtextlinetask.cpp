#include "subtextlinetask.h"

#include <algorithm>
#include <utility>

#include "panel.h"

namespace keylight {

SubTextLineTask::SubTextLineTask(int screenId, int lineId, int offset, int numChars,
                                 std::string text, uint32_t textColour, uint32_t backColour)
    : _screen_id(screenId),
      _line_id(lineId),
      _offset(offset),
      _num_chars(std::min(numChars, TFT_LINE_CELLS_MAX)),
      _text(std::move(text)),
      _text_colour(textColour),
      _back_colour(backColour) {
    // The library renders exactly _num_chars bytes: a shorter text is padded with NULs, a
    // longer one cut. The count comes from a client, so the copy never outgrows the line.
    _text.resize(static_cast<size_t>(std::max(_num_chars, 0)), '\0');
}

void SubTextLineTask::execute() {
    tft_sub_text_line(_screen_id, _line_id, _offset, _text.c_str(), _num_chars, _text_colour,
                      _back_colour);
}

}  // namespace keylight
