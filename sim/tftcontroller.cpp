#include "tftcontroller.h"

namespace panelsim {

namespace {

// Controller registers the model acts on.
constexpr uint16_t kDisplayControl = 0x07;
constexpr uint16_t kDisplayOnValue = 0x0037;  // last step of the start-up sequence
constexpr uint16_t kAddressSet = 0x21;
constexpr uint16_t kMemoryWrite = 0x22;
constexpr uint16_t kHorizontalWindow = 0x44;  // high byte last column, low byte first
constexpr uint16_t kVerticalWindow = 0x45;    // high byte last row, low byte first

// The glass shows controller columns 4..131 and rows 1..128.
constexpr unsigned kFirstVisibleColumn = 4;
constexpr unsigned kFirstVisibleRow = 1;

uint8_t lowByte(uint16_t value) { return static_cast<uint8_t>(value & 0xFF); }
uint8_t highByte(uint16_t value) { return static_cast<uint8_t>(value >> 8); }

}  // namespace

TftController::TftController() { reset(); }

void TftController::reset() {
    index_ = 0;
    firstColumn_ = kFirstVisibleColumn;
    lastColumn_ = kFirstVisibleColumn + kScreenWidth - 1;
    firstRow_ = kFirstVisibleRow;
    lastRow_ = kFirstVisibleRow + kScreenHeight - 1;
    on_ = false;
    moveToWindowStart();
}

void TftController::writeIndex(uint8_t byte) {
    index_ = static_cast<uint16_t>((index_ << 8) | byte);
}

void TftController::writeData(uint16_t word) {
    if (index_ == kMemoryWrite) {
        storePixel(word);
    } else {
        setRegister(index_, word);
    }
}

void TftController::setRegister(uint16_t number, uint16_t value) {
    switch (number) {
    case kDisplayControl:
        if (value == kDisplayOnValue) on_ = true;
        break;
    case kAddressSet:
        moveToWindowStart();
        break;
    case kHorizontalWindow:
        firstColumn_ = lowByte(value);
        lastColumn_ = highByte(value);
        moveToWindowStart();
        break;
    case kVerticalWindow:
        firstRow_ = lowByte(value);
        lastRow_ = highByte(value);
        moveToWindowStart();
        break;
    default:
        // Timing, power and gamma registers change nothing the model shows.
        break;
    }
}

void TftController::moveToWindowStart() {
    column_ = firstColumn_;
    row_ = firstRow_;
}

void TftController::storePixel(uint16_t pixel) {
    if (column_ >= kFirstVisibleColumn && column_ < kFirstVisibleColumn + kScreenWidth &&
        row_ >= kFirstVisibleRow && row_ < kFirstVisibleRow + kScreenHeight) {
        picture_[(row_ - kFirstVisibleRow) * kScreenWidth + (column_ - kFirstVisibleColumn)] = pixel;
    }
    // An inverted window (first above last) is taken as its first column or row alone.
    if (column_ < lastColumn_) {
        ++column_;
        return;
    }
    column_ = firstColumn_;
    if (row_ < lastRow_) {
        ++row_;
    } else {
        row_ = firstRow_;
    }
}

}  // namespace panelsim
