// The model of everything behind "/dev/fpga-reg": FPGA registers, LEDs, status inputs,
// panel control and the three TFT controllers with their pictures.
//
// One instance is one board. It is safe to use from several threads: every call takes the
// model's own lock, so a test may read the board while a program's worker thread draws.
//
// Errors follow the driver: an access returns 0, or -1 with errno set (EINVAL for an unknown
// request number or a malformed record, EFAULT for a burst without words, EBADF for a
// connection that is not open). A refused access executes nothing and writes no trace line.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fpga_request.h"
#include "panelviewfile.h"

namespace panelsim {

using Picture = std::array<uint16_t, SCREEN_PIXELS>;  // row-major, top row first, RGB565

struct BoardState {
    std::array<bool, 32> button_leds{};
    std::array<bool, 32> status_leds{};
    std::array<bool, 2> toggle_leds{};     // toggle 0 is the PSU LED
    std::optional<uint8_t> panel_control;  // last high byte written to 0x0800
    std::optional<int> backlight_level;    // 0..63 when bits 7-6 of panel control are set
    unsigned status_inputs = 0;            // the two PSU input bits
    std::array<bool, SCREEN_COUNT> screens_on{};
    uint64_t accesses = 0;  // register accesses executed so far
};

// The board state that a picture of the panel holds; status_inputs, which no picture holds,
// stays 0.
BoardState boardState(const PanelViewState& view);

// The fields of one request record, taken out of whichever layout carried it, for records
// that crossed a process boundary (the daemon's device connections).
struct RequestFields {
    unsigned long number = 0;         // ioctl request number, of a 16-byte or a 24-byte record
    uint32_t address_word = 0;        // short form: only the low 16 bits count
    uint32_t count = 0;               // number of 16-bit words
    uint16_t value = 0;               // count == 1: the word written; a read stores its result here
    const uint16_t* words = nullptr;  // count > 1: the burst, count words (not owned)
};

// Whether number is one of the driver's two request numbers, for the 16-byte record of the
// 32-bit target or the 24-byte record of a 64-bit host.
bool isFpgaRequestNumber(unsigned long number);

class FpgaModel {
public:
    // Receives every trace line (without line end) in execution order, under the model's lock.
    using TraceSink = std::function<void(const std::string& line)>;

    // The board's state lives in storage when given (not owned; it must outlive the model):
    // a mapped picture file whose readers follow every access. The model takes the screens,
    // LEDs and panel control storage holds as the board's; the controllers' registers start
    // from their defaults. Without storage the board starts all dark in memory of its own.
    explicit FpgaModel(TraceSink sink = {}, PanelViewFile* storage = nullptr);
    ~FpgaModel();
    FpgaModel(const FpgaModel&) = delete;
    FpgaModel& operator=(const FpgaModel&) = delete;

    // A new device connection opened by process pid; returns its number (1, 2, ...).
    int openConnection(long pid);
    // Ends a connection; a number that is not open is ignored.
    void closeConnection(int connection);

    // Executes one request as the driver would, with the record in this process's layout.
    // For count 1 the value at the record's data field is replaced by the value of the
    // access (the register's value for a read), as the driver copies it back.
    // Returns 0, or -1 with errno EINVAL for an unknown request number or a malformed record.
    int execute(int connection, unsigned long request, fpga_request* record);
    // The same for a request given by its fields; either record size's numbers are accepted.
    // For count 1, fields.value receives the value of the access.
    int executeFields(int connection, RequestFields& fields);

    BoardState state() const;
    // The picture of screen 0..2; an all-black picture for any other number.
    Picture picture(int screen) const;
    void setStatusInputs(unsigned bits);

private:
    struct Board;
    std::unique_ptr<Board> _board;
};

}  // namespace panelsim
