// The push button of the TesseraX panel: its LED is one of the FPGA's button LEDs, with
// the button id as the LED index.
#pragma once

#include "button.h"

namespace keylight {

class Button_TesseraX : public Button {
public:
    Button_TesseraX(int id, FPGA* fpga);

    // Posts a SetLEDButtonStateTask for LED id() with the state unchanged.
    void setLEDState(int state) override;
    std::unique_ptr<BlinkingLed> startBlinking() override;
};

}  // namespace keylight
