// A whole text line: white on black when inverted, else black on white.
#pragma once

#include <string>

#include "fpgatask.h"

namespace keylight {

class TextLineTask : public FPGATask {
public:
    TextLineTask(int screenId, int lineId, std::string text, bool inverted);
    void execute() override;

private:
    int _screen_id;
    int _line_id;
    std::string _text;
    bool _inverted;
};

}  // namespace keylight
