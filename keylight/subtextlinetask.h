// A run of character cells inside a text line, in colours of its own.
#pragma once

#include <cstdint>
#include <string>

#include "fpgatask.h"

namespace keylight {

class SubTextLineTask : public FPGATask {
public:
    // Holds and passes at most the cells a line can show (TFT_LINE_CELLS_MAX): a larger
    // count draws the same line. The copy is exactly that many bytes, a shorter text padded
    // with NULs, so nothing past it is ever read.
    SubTextLineTask(int screenId, int lineId, int offset, int numChars, std::string text,
                    uint32_t textColour, uint32_t backColour);
    void execute() override;

private:
    int _screen_id;
    int _line_id;
    int _offset;
    int _num_chars;
    std::string _text;
    uint32_t _text_colour;
    uint32_t _back_colour;
};

}  // namespace keylight
