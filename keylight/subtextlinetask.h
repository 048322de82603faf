// A run of character cells inside a text line, in colours of its own.
#pragma once

#include <cstdint>
#include <string>

#include "fpgatask.h"

namespace keylight {

class SubTextLineTask : public FPGATask {
public:
    // The library renders exactly numChars bytes; a shorter text is padded with NULs so that
    // nothing past the copy is ever read.
    SubTextLineTask(int screenId, int lineId, int offset, int numChars, std::string text,
                    uint32_t textColour, uint32_t backColour);
    void execute() override;

private:
    int _screenId;
    int _lineId;
    int _offset;
    int _numChars;
    std::string _text;
    uint32_t _textColour;
    uint32_t _backColour;
};

}  // namespace keylight
