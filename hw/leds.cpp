// Button, status and toggle LEDs, and the status inputs.
#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

int toggle_shadow = 0;

namespace {

// Set whenever the device is opened: the indicators may still be lit by an earlier run of a
// program (keylight restarted, say), and a shadow starting at 0 would switch the other
// indicator off with the first write. Read before that first write rather than at the open,
// so that opening the device never waits for it (keylight opens it on its event loop).
bool toggle_shadow_unread = false;

// Indices beyond bits 4-0 of the LED command would spill into its on and kind bits.
bool led_index_valid(int index) {
    if (index < 0 || index > LED_INDEX_MAX) {
        log_printf(log_priority::err, "Invalid LED index %d.\n", index);
        return false;
    }
    return true;
}

int led_command(uint8_t kind, int index, int state) {
    const int on = state == 1 ? LED_ON : 0;
    return reg_write_high(REG_LED_COMMAND, static_cast<uint8_t>(kind + on + index));
}

constexpr int64_t NS_PER_S = 1000000000;
constexpr int64_t GAP_NS = int64_t{LED_COMMAND_GAP_US} * 1000;

// How long before the end of a gap its sleep ends, so that the wake-up, late by the
// kernel's latency, comes about at the end and little is left to spin. The latency differs
// from machine to machine and with the load, so the margin follows the median of the recent
// wake-ups' lateness: every wake-up moves it a sixteenth of the way towards its own. Half the
// wake-ups then spin a few microseconds, half end the gap a few microseconds late; a margin
// at a higher quantile would spin longer on most gaps to shorten a few. Bounded so that a
// whole gap always sleeps a little (and keeps measuring) and always spins a little; what is
// left of a gap when less than the margin is only spun. Each thread learns its own, as its
// timer slack is its own.
constexpr int64_t WAKE_MARGIN_MIN_NS = 2000;
constexpr int64_t WAKE_MARGIN_MAX_NS = GAP_NS * 3 / 4;
thread_local int64_t wake_margin_ns = 10000;

// When the gap after the last button LED command ends on the monotonic clock; 0 when none is
// owed, so that the accesses of everything else (text lines, pictures) read no clock. One for
// the process, as the device is one: the caller's serialisation of every call orders it.
int64_t gap_end_ns = 0;

int64_t monotonic_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

void sleep_until(int64_t deadline_ns) {
    timespec deadline;
    deadline.tv_sec = static_cast<time_t>(deadline_ns / NS_PER_S);
    deadline.tv_nsec = static_cast<long>(deadline_ns % NS_PER_S);
    // An absolute deadline: a signal's interruption does not lengthen the sleep.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void learn_wake_latency(int64_t late_ns) {
    const int64_t seen = std::min(late_ns, GAP_NS);
    wake_margin_ns += (seen - wake_margin_ns) / 16;
    wake_margin_ns = std::clamp(wake_margin_ns, WAKE_MARGIN_MIN_NS, WAKE_MARGIN_MAX_NS);
}

}  // namespace

// Sleeping gives the CPU to the device's other programs for most of the gap; spinning the
// rest on the monotonic clock ends it within a few microseconds of its end.
void led_gap_wait() {
    if (gap_end_ns == 0) {
        return;
    }
    const int64_t end = gap_end_ns;
    gap_end_ns = 0;
    int64_t now = monotonic_ns();
    const int64_t wake = end - wake_margin_ns;
    if (now < wake) {
        sleep_until(wake);
        now = monotonic_ns();
        learn_wake_latency(now - wake);
    }
    while (now < end) {
        now = monotonic_ns();
    }
}

void led_gap_begin() {
    gap_end_ns = monotonic_ns() + GAP_NS;
}

void toggle_shadow_from_device() {
    toggle_shadow_unread = true;
}

void led_pause_thread_prepare() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

int led_button_state(int index, int state) {
    if (!led_index_valid(index)) {
        return 1;
    }
    const int result = led_command(LED_KIND_BUTTON, index, state);
    led_gap_begin();
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
    if (state != 0 && state != 1) {
        return 2;
    }
    if (toggle_shadow_unread) {
        uint16_t held = 0;
        if (fpga_access(fpga_fd, REG_TOGGLE, 1, &held, 1) >= 0) {
            toggle_shadow = held & TOGGLE_BITS;
            toggle_shadow_unread = false;
        }
    }
    if (state == 1) {
        toggle_shadow |= 1 << bit;
    } else {
        toggle_shadow &= ~(1 << bit);
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
