#include "button.h"

namespace keylight {

Button::Button(int id, FPGA* fpga) : _id(id), _fpga(fpga) {}

int Button::id() const {
    return _id;
}

bool Button::isEnabled() const {
    return !_disabled;
}

void Button::refresh() {}

FPGA* Button::fpga() const {
    return _fpga;
}

}  // namespace keylight
