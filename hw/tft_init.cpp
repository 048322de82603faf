// The TFT controllers' start-up sequence: one table, walked by one interpreter.
#include <unistd.h>

#include <iterator>

#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

namespace {

enum class step_kind {
    panel_control,  // reg_write_high(panel control, value)
    controller,     // tft_register(all screens, reg, value)
    pause,          // usleep(value) microseconds
};

struct init_step {
    step_kind kind;
    int reg;
    unsigned value;
};

constexpr step_kind PANEL = step_kind::panel_control;
constexpr step_kind CTRL = step_kind::controller;
constexpr step_kind PAUSE = step_kind::pause;

const init_step start_up_sequence[] = {
    {PANEL, 0, 0x00},                         // panel control: controllers held in reset
    {PANEL, 0, 0x80},                         // panel control: controllers out of reset
    {CTRL, TFT_REG_START, 0x0013},            // start oscillation
    {CTRL, TFT_REG_POWER_2, 0x7447},          // power control 2
    {CTRL, TFT_REG_POWER_3, 0x0012},          // power control 3
    {CTRL, TFT_REG_POWER_2, 0x4477},          // power control 2
    {CTRL, TFT_REG_POWER_1, 0x2020},          // power control 1
    {PAUSE, 0, 3000},                         // power settles
    {CTRL, TFT_REG_RESIZE, 0x0002},           // register 0x04
    {CTRL, TFT_REG_POWER_1, 0x2120},          // power control 1
    {PAUSE, 0, 3000},                         // power settles
    {CTRL, TFT_REG_POWER_2, 0x3307},          // power control 2
    {CTRL, TFT_REG_RESIZE, 0x0000},           // register 0x04
    {PAUSE, 0, 3000},                         // power settles
    {CTRL, TFT_REG_FRAME_CYCLE, 0x5101},      // frame cycle control
    {CTRL, TFT_REG_BLANK_PERIOD, 0x0100},     // blank period control
    {CTRL, TFT_REG_POWER_4, 0x3F20},          // power control 4
    {CTRL, TFT_REG_GATE_SCAN, 0x8300},        // gate scan position
    {CTRL, TFT_REG_VERTICAL_SCROLL, 0x0000},  // vertical scroll
    {CTRL, TFT_REG_WINDOW_COLUMNS, TFT_WINDOW_ALL_COLUMNS},  // window columns 4..131
    {CTRL, TFT_REG_WINDOW_ROWS, TFT_WINDOW_ALL_ROWS},        // window rows 1..128
    {CTRL, TFT_REG_ENTRY_MODE, 0x7030},                      // entry mode
    {CTRL, TFT_REG_LCD_DRIVE, 0x0600},                       // LCD drive waveform
    {CTRL, TFT_REG_DRIVER_OUTPUT, 0x011D},                   // driver output control
    {CTRL, TFT_REG_GAMMA_0 + 0, 0x0000},                     // gamma control 0x30
    {CTRL, TFT_REG_GAMMA_0 + 1, 0x0306},                     // gamma control 0x31
    {CTRL, TFT_REG_GAMMA_0 + 2, 0x0001},                     // gamma control 0x32
    {CTRL, TFT_REG_GAMMA_0 + 3, 0x0000},                     // gamma control 0x33
    {CTRL, TFT_REG_GAMMA_0 + 4, 0x0404},                     // gamma control 0x34
    {CTRL, TFT_REG_GAMMA_0 + 5, 0x0000},                     // gamma control 0x35
    {CTRL, TFT_REG_GAMMA_0 + 6, 0x0707},                     // gamma control 0x36
    {CTRL, TFT_REG_GAMMA_0 + 7, 0x0000},                     // gamma control 0x37
    {CTRL, TFT_REG_GAMMA_0 + 8, 0x0101},                     // gamma control 0x38
    {CTRL, TFT_REG_GAMMA_0 + 9, 0x0207},                     // gamma control 0x39
    {CTRL, TFT_REG_DISPLAY_CONTROL, 0x0037},                 // display on
    {PAUSE, 0, 100000},                                      // display settles
    {PANEL, 0, 0xFF},  // panel control: backlight at its brightest
};

}  // namespace

namespace {

int run_start_up_sequence(bool pause) {
    int result = 0;
    for (const init_step& step : start_up_sequence) {
        switch (step.kind) {
        case step_kind::panel_control:
            result = reg_write_high(REG_PANEL_CONTROL, static_cast<uint8_t>(step.value));
            break;
        case step_kind::controller:
            result = tft_register(SCREEN_MASK_ALL, step.reg, static_cast<uint16_t>(step.value));
            break;
        case step_kind::pause:
            if (pause) {
                usleep(step.value);
            }
            break;
        }
    }
    return result;
}

}  // namespace

int tft_controller_init() {
    return run_start_up_sequence(true);
}

void tft_controller_init_replay(fpga_access_observer observer, void* context) {
    fpga_replay_to(observer, context);
    run_start_up_sequence(false);
    fpga_replay_to(nullptr, nullptr);
}
