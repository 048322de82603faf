// Button, status and toggle LEDs, and the status inputs.
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

int toggle_shadow = 0;

namespace {

// Indices beyond bits 4-0 of the LED command would spill into its on and kind bits.
bool led_index_valid(int index) {
    if (index < 0 || index > LED_INDEX_MAX) {
        printf("Invalid LED index %d.\n", index);
        return false;
    }
    return true;
}

int led_command(uint8_t kind, int index, int state) {
    const int on = state == 1 ? LED_ON : 0;
    return reg_write_high(REG_LED_COMMAND, static_cast<uint8_t>(kind + on + index));
}

int64_t nanoseconds_between(const timespec& from, const timespec& to) {
    return static_cast<int64_t>(to.tv_sec - from.tv_sec) * 1000000000 +
           static_cast<int64_t>(to.tv_nsec - from.tv_nsec);
}

}  // namespace

// A sleep would overshoot by the thread's timer slack (50 us by default, more than the pause
// itself), so the pause spins on the monotonic clock: it ends within a few microseconds of
// the minimum, and the caller's timer slack is left as it was.
void led_command_pause() {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    timespec now = start;
    while (nanoseconds_between(start, now) < int64_t{LED_COMMAND_PAUSE_US} * 1000) {
        clock_gettime(CLOCK_MONOTONIC, &now);
    }
}

int led_button_state(int index, int state) {
    if (!led_index_valid(index)) {
        return 1;
    }
    const int result = led_command(LED_KIND_BUTTON, index, state);
    led_command_pause();
    return result;
}

int led_status_indicator(int index, int state) {
    if (!led_index_valid(index)) {
        return 1;
    }
    return led_command(LED_KIND_STATUS, index, state);
}

int led_toggle_indicator(int index, int state) {
    const unsigned bit = static_cast<unsigned>(index);
    if (bit > TOGGLE_INDEX_MAX) {
        return 1;
    }
    if (state == 1) {
        toggle_shadow |= 1 << bit;
    } else if (state == 0) {
        toggle_shadow &= ~(1 << bit);
    } else {
        return 2;
    }
    reg_write(REG_TOGGLE, static_cast<uint16_t>(toggle_shadow));
    return 0;
}

int led_toggle_indicators_get() {
    return reg_read(REG_TOGGLE) & 0xFF;
}

int status_bits_get() {
    return reg_read(REG_STATUS) & 3;
}

int status_byte_get(uint8_t* out) {
    if (!out) {
        return -1;
    }
    const uint16_t status = reg_read(REG_STATUS);
    const uint16_t source = reg_read(REG_STATUS_BYTE);
    // Bit 8 of the status register is bit 4 of the status byte.
    *out = static_cast<uint8_t>((source | ((status & 0x100) >> 4)) & 0xFF);
    return 0;
}

int id_words_get(uint32_t* a, uint32_t* b) {
    if (!a || !b) {
        return -1;
    }
    const uint32_t a_high = reg_read(REG_ID_A_HIGH);
    const uint32_t a_low = reg_read(REG_ID_A_LOW);
    const uint32_t b_high = reg_read(REG_ID_B_HIGH);
    const uint32_t b_low = reg_read(REG_ID_B_LOW);
    *a = (a_high << 16) | a_low;
    *b = (b_high << 16) | b_low;
    return 0;
}
