#include "textlinetask.h"

#include <utility>

#include "panel.h"

namespace keylight {

TextLineTask::TextLineTask(int screenId, int lineId, std::string text, bool inverted)
    : _screen_id(screenId), _line_id(lineId), _text(std::move(text)), _inverted(inverted) {}

void TextLineTask::execute() {
    if (_inverted) {
        tft_text_line(_screen_id, _line_id, _text.c_str(), 0xFFFFFF, 0x000000);
    } else {
        tft_text_line_plain(_screen_id, _line_id, _text.c_str());
    }
}

}  // namespace keylight
