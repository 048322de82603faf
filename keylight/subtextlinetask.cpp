#include "subtextlinetask.h"

#include <utility>

#include "panel.h"

namespace keylight {

SubTextLineTask::SubTextLineTask(int screenId, int lineId, int offset, int numChars,
                                 std::string text, uint32_t textColour, uint32_t backColour)
    : _screenId(screenId),
      _lineId(lineId),
      _offset(offset),
      _numChars(numChars),
      _text(std::move(text)),
      _textColour(textColour),
      _backColour(backColour) {
    if (_numChars > 0 && _text.size() < static_cast<size_t>(_numChars)) {
        _text.resize(static_cast<size_t>(_numChars), '\0');
    }
}

void SubTextLineTask::execute() {
    tft_sub_text_line(_screenId, _lineId, _offset, _text.c_str(), _numChars, _textColour,
                      _backColour);
}

}  // namespace keylight
