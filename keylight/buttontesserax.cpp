#include "buttontesserax.h"

#include "fpga.h"

namespace keylight {

Button_TesseraX::Button_TesseraX(int id, FPGA* fpga) : Button(id, fpga) {}

void Button_TesseraX::setLEDState(int state) {
    fpga()->setLEDButtonState(id(), state);
}

}  // namespace keylight
