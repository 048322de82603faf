#include "tftcontroller.h"

#include <algorithm>

namespace panelsim {

namespace {

// Controller registers the model acts on.
constexpr uint16_t DISPLAY_CONTROL = 0x07;
constexpr uint16_t DISPLAY_ON_VALUE = 0x0037;  // last step of the start-up sequence
constexpr uint16_t ADDRESS_SET = 0x21;
constexpr uint16_t MEMORY_WRITE = 0x22;
constexpr uint16_t HORIZONTAL_WINDOW = 0x44;  // high byte last column, low byte first
constexpr uint16_t VERTICAL_WINDOW = 0x45;    // high byte last row, low byte first

// The glass shows controller columns 4..131 and rows 1..128.
constexpr unsigned FIRST_VISIBLE_COLUMN = 4;
constexpr unsigned FIRST_VISIBLE_ROW = 1;

uint8_t lowByte(uint16_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}
uint8_t highByte(uint16_t value) {
    return static_cast<uint8_t>(value >> 8);
}

}  // namespace

TftController::TftController(uint16_t* picture, bool on) : _picture(picture) {
    reset();
    _on = on;
}

void TftController::reset() {
    _index = 0;
    _first_column = FIRST_VISIBLE_COLUMN;
    _last_column = FIRST_VISIBLE_COLUMN + SCREEN_WIDTH - 1;
    _first_row = FIRST_VISIBLE_ROW;
    _last_row = FIRST_VISIBLE_ROW + SCREEN_HEIGHT - 1;
    _on = false;
    moveToWindowStart();
}

void TftController::writeIndex(uint8_t byte) {
    _index = static_cast<uint16_t>((_index << 8) | byte);
}

void TftController::writeData(uint16_t word) {
    if (_index == MEMORY_WRITE) {
        storePixel(word);
    } else {
        setRegister(_index, word);
    }
}

void TftController::writeData(const uint16_t* words, uint32_t count) {
    if (_index != MEMORY_WRITE) {
        for (uint32_t i = 0; i < count; ++i)
            setRegister(_index, words[i]);
        return;
    }
    // Along a row up to the window's last column the pixels land side by side: they are
    // copied as one run, and only the wrap at its end is taken pixel by pixel.
    while (count > 0) {
        if (_column >= _last_column) {
            storePixel(*words++);
            --count;
            continue;
        }
        const uint32_t run = std::min<uint32_t>(count, _last_column - _column);
        if (_row >= FIRST_VISIBLE_ROW && _row < FIRST_VISIBLE_ROW + SCREEN_HEIGHT) {
            const unsigned first = std::max<unsigned>(_column, FIRST_VISIBLE_COLUMN);
            const unsigned end =
                std::min<unsigned>(_column + run, FIRST_VISIBLE_COLUMN + SCREEN_WIDTH);
            if (first < end) {
                std::copy(words + (first - _column), words + (end - _column),
                          _picture + (_row - FIRST_VISIBLE_ROW) * SCREEN_WIDTH +
                              (first - FIRST_VISIBLE_COLUMN));
            }
        }
        _column += run;
        words += run;
        count -= run;
    }
}

void TftController::setRegister(uint16_t number, uint16_t value) {
    switch (number) {
    case DISPLAY_CONTROL:
        if (value == DISPLAY_ON_VALUE)
            _on = true;
        break;
    case ADDRESS_SET:
        moveToWindowStart();
        break;
    case HORIZONTAL_WINDOW:
        _first_column = lowByte(value);
        _last_column = highByte(value);
        moveToWindowStart();
        break;
    case VERTICAL_WINDOW:
        _first_row = lowByte(value);
        _last_row = highByte(value);
        moveToWindowStart();
        break;
    default:
        // Timing, power and gamma registers change nothing the model shows.
        break;
    }
}

void TftController::moveToWindowStart() {
    _column = _first_column;
    _row = _first_row;
}

void TftController::storePixel(uint16_t pixel) {
    if (_column >= FIRST_VISIBLE_COLUMN && _column < FIRST_VISIBLE_COLUMN + SCREEN_WIDTH &&
        _row >= FIRST_VISIBLE_ROW && _row < FIRST_VISIBLE_ROW + SCREEN_HEIGHT) {
        _picture[(_row - FIRST_VISIBLE_ROW) * SCREEN_WIDTH + (_column - FIRST_VISIBLE_COLUMN)] =
            pixel;
    }
    // An inverted window (first above last) is taken as its first column or row alone.
    if (_column < _last_column) {
        ++_column;
        return;
    }
    _column = _first_column;
    if (_row < _last_row) {
        ++_row;
    } else {
        _row = _first_row;
    }
}

}  // namespace panelsim
