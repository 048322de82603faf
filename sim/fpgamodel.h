// The model of everything behind "/dev/fpga-reg": FPGA registers, LEDs, status inputs,
// panel control and the three TFT controllers with their pictures.
//
// One instance is one board. It is safe to use from several threads: every call takes the
// model's own lock, so a test may read the board while a program's worker thread draws.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fpga_request.h"

namespace panelsim {

constexpr int kScreenCount = 3;
constexpr int kScreenWidth = 128;
constexpr int kScreenHeight = 128;
constexpr int kScreenPixels = kScreenWidth * kScreenHeight;

using Picture = std::array<uint16_t, kScreenPixels>;  // row-major, top row first, RGB565

struct BoardState {
    std::array<bool, 32> button_leds{};
    std::array<bool, 32> status_leds{};
    std::array<bool, 2> toggle_leds{};  // toggle 0 is the PSU LED
    std::optional<uint8_t> panel_control;   // last high byte written to 0x0800
    std::optional<int> backlight_level;     // 0..63 when bits 7-6 of panel control are set
    unsigned status_inputs = 0;             // the two PSU input bits
    std::array<bool, kScreenCount> screens_on{};
    uint64_t accesses = 0;                  // register accesses executed so far
};

class FpgaModel {
public:
    // Receives every trace line (without line end) in execution order, under the model's lock.
    using TraceSink = std::function<void(const std::string& line)>;

    explicit FpgaModel(TraceSink sink = {});

    // A new device connection opened by process pid; returns its number (1, 2, ...).
    int openConnection(long pid);
    void closeConnection(int connection);

    // Executes one request as the driver would, with the record in this process's layout.
    // Returns 0, or -1 with errno EINVAL for an unknown request number or a malformed record.
    int execute(int connection, unsigned long request, fpga_request* record);

    BoardState state() const;
    Picture picture(int screen) const;
    void setStatusInputs(unsigned bits);
};

}  // namespace panelsim
