#include "subtextlinetask.h"

#include <algorithm>
#include <utility>

#include "panel.h"

namespace keylight {

SubTextLineTask::SubTextLineTask(int screenId, int lineId, int offset, int numChars,
                                 std::string text, uint32_t textColour, uint32_t backColour)
    : _screenId(screenId),
      _lineId(lineId),
      _offset(offset),
      _numChars(std::min(numChars, TFT_LINE_CELLS_MAX)),
      _text(std::move(text)),
      _textColour(textColour),
      _backColour(backColour) {
    // The library renders exactly _numChars bytes: a shorter text is padded with NULs, a
    // longer one cut. The count comes from a client, so the copy never outgrows the line.
    _text.resize(static_cast<size_t>(std::max(_numChars, 0)), '\0');
}

void SubTextLineTask::execute() {
    tft_sub_text_line(_screenId, _lineId, _offset, _text.c_str(), _numChars, _textColour,
                      _backColour);
}

}  // namespace keylight
