// One TFT controller behind the FPGA: its index/data register protocol, write window,
// write position, display-on state and 128 x 128 picture. Internal to the FPGA model,
// which serialises every call.
#pragma once

#include <cstdint>

#include "fpgamodel.h"

namespace panelsim {

class TftController {
public:
    // picture is the controller's picture memory, SCREEN_PIXELS words (not owned);
    // on whether the display was on when the model took the memory over.
    TftController(uint16_t* picture, bool on);

    // One byte written to the index register; a register number arrives as two bytes,
    // high byte first (0x00, then the number).
    void writeIndex(uint8_t byte);
    // One word written to the data register: a pixel while the current register is the
    // memory write register, otherwise the value of the current register.
    void writeData(uint16_t word);
    // count words written to the data register one after the other, as writeData would take
    // them: the pixel bursts, in one pass.
    void writeData(const uint16_t* words, uint32_t count);
    // Held in reset by the panel control: display off, registers back to their defaults.
    // The picture memory keeps its contents.
    void reset();

    bool isOn() const { return _on; }
    const uint16_t* picture() const { return _picture; }

private:
    void setRegister(uint16_t number, uint16_t value);
    void moveToWindowStart();
    void storePixel(uint16_t pixel);

    uint16_t _index = 0;
    uint8_t _first_column = 0;
    uint8_t _last_column = 0;
    uint8_t _first_row = 0;
    uint8_t _last_row = 0;
    unsigned _column = 0;
    unsigned _row = 0;
    bool _on = false;
    uint16_t* _picture;
};

}  // namespace panelsim
