#include "buttontesserax.h"

#include "blinkingled.h"
#include "fpga.h"

namespace keylight {

Button_TesseraX::Button_TesseraX(int id, FPGA* fpga) : Button(id, fpga) {}

void Button_TesseraX::setLEDState(int state) {
    fpga()->setLEDButtonState(id(), state);
}

std::unique_ptr<BlinkingLed> Button_TesseraX::startBlinking() {
    return std::make_unique<BlinkingLed>(fpga(), id());
}

}  // namespace keylight
