// What every kind of panel button shares: its id, its disabled flag and the FPGA object
// through which it reaches the hardware.
#pragma once

#include "ibutton.h"

namespace keylight {

class FPGA;

class Button : public IButton {
public:
    Button(int id, FPGA* fpga);

    int id() const override;
    // Always true: nothing disables a button after construction.
    bool isEnabled() const override;
    void refresh() override;

protected:
    FPGA* fpga() const;

private:
    bool _disabled = false;
    int _id = 0;
    FPGA* _fpga = nullptr;
};

}  // namespace keylight
