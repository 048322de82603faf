// The FPGA register map behind "/dev/fpga-reg" and the TFT controller registers we use.
// Every FPGA register is 16 bits wide; "high byte" registers take their value as byte << 8.
#pragma once

#include <cstdint>

// ---- FPGA registers ---------------------------------------------------------------------

constexpr uint32_t REG_PANEL_CONTROL = 0x0800;   // high byte: TFT reset/enable and backlight
constexpr uint32_t REG_LED_COMMAND = 0x0900;     // high byte: kind, on bit, LED index
constexpr uint32_t REG_TFT_INDEX_BASE = 0x0A00;  // + 2 * mask: controller index register
constexpr uint32_t REG_TFT_DATA_BASE = 0x0A01;   // + 2 * mask: controller data register
constexpr uint32_t REG_STATUS = 0x1000;          // bits 1-0 status inputs, bit 8 status byte bit 4
constexpr uint32_t REG_STATUS_BYTE = 0x1002;     // low byte: status byte source
constexpr uint32_t REG_TOGGLE = 0x1003;          // bits 1-0: toggle indicators
constexpr uint32_t REG_ID_A_HIGH = 0x1004;       // first 32-bit value, high half first
constexpr uint32_t REG_ID_A_LOW = 0x1005;
constexpr uint32_t REG_ID_B_HIGH = 0x1006;  // second 32-bit value, high half first
constexpr uint32_t REG_ID_B_LOW = 0x1007;

// LED command high byte: bits 7-6 kind, bit 5 on, bits 4-0 index.
constexpr uint8_t LED_KIND_BUTTON = 0x40;
constexpr uint8_t LED_KIND_STATUS = 0x80;
constexpr uint8_t LED_ON = 0x20;
constexpr int LED_INDEX_MAX = 31;
// After a button LED command the device takes no register access for this long
// (microseconds).
constexpr long LED_COMMAND_GAP_US = 50;

// Panel control high byte: bits 7-6 both set enable the backlight at level bits 5-0.
constexpr uint8_t PANEL_BACKLIGHT_ON = 0xC0;
constexpr int PANEL_BACKLIGHT_LEVEL_MAX = 63;

constexpr int TOGGLE_INDEX_MAX = 1;

// ---- The panel --------------------------------------------------------------------------

constexpr int BUTTON_COUNT = 24;
constexpr int STATUS_INDICATOR_COUNT = LED_INDEX_MAX + 1;  // every index the LED command takes
constexpr int TOGGLE_INDICATOR_COUNT = TOGGLE_INDEX_MAX + 1;
constexpr int TOGGLE_BITS = (1 << TOGGLE_INDICATOR_COUNT) - 1;
constexpr int SCREEN_COUNT = 3;

// ---- Screens ----------------------------------------------------------------------------

constexpr int SCREEN_ALL = -1;  // screen id addressing all three screens
constexpr int SCREEN_MASK_ALL = 7;
constexpr int SCREEN_WIDTH = 128;
constexpr int SCREEN_HEIGHT = 128;

// Controller coordinates of the visible picture.
constexpr int TFT_FIRST_COLUMN = 4;
constexpr int TFT_LAST_COLUMN = 131;
constexpr int TFT_FIRST_ROW = 1;
constexpr int TFT_LAST_ROW = 128;

// ---- TFT controller registers -----------------------------------------------------------

// A register number reaches the index register as two bytes: this one, then the number.
constexpr int TFT_INDEX_PREFIX = 0x00;

constexpr int TFT_REG_START = 0x00;  // oscillator start
constexpr int TFT_REG_DRIVER_OUTPUT = 0x01;
constexpr int TFT_REG_LCD_DRIVE = 0x02;
constexpr int TFT_REG_ENTRY_MODE = 0x03;
constexpr int TFT_REG_RESIZE = 0x04;
constexpr int TFT_REG_DISPLAY_CONTROL = 0x07;
constexpr int TFT_REG_BLANK_PERIOD = 0x08;
constexpr int TFT_REG_FRAME_CYCLE = 0x0B;
constexpr int TFT_REG_POWER_1 = 0x10;
constexpr int TFT_REG_POWER_2 = 0x11;
constexpr int TFT_REG_POWER_3 = 0x12;
constexpr int TFT_REG_POWER_4 = 0x13;
constexpr int TFT_REG_ADDRESS_SET = 0x21;   // write position: written 0 before pixel data
constexpr int TFT_REG_MEMORY_WRITE = 0x22;  // data words after this index are pixels
constexpr int TFT_REG_GAMMA_0 = 0x30;       // 0x30..0x39: gamma control
constexpr int TFT_REG_GATE_SCAN = 0x42;
constexpr int TFT_REG_VERTICAL_SCROLL = 0x43;
constexpr int TFT_REG_WINDOW_COLUMNS = 0x44;  // high byte last column, low byte first
constexpr int TFT_REG_WINDOW_ROWS = 0x45;     // high byte last row, low byte first

// The full-screen window values.
constexpr uint16_t TFT_WINDOW_ALL_COLUMNS = (TFT_LAST_COLUMN << 8) | TFT_FIRST_COLUMN;  // 0x8304
constexpr uint16_t TFT_WINDOW_ALL_ROWS = (TFT_LAST_ROW << 8) | TFT_FIRST_ROW;           // 0x8001
