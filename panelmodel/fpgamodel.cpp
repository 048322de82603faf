#include "fpgamodel.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "tftcontroller.h"

namespace panelsim {

namespace {

// FPGA registers (16 bits each).
constexpr uint32_t PANEL_CONTROL = 0x0800;  // high byte: reset, backlight
constexpr uint32_t LED_COMMAND = 0x0900;    // high byte: kind, on, index
constexpr uint32_t TFT_FIRST = 0x0A00;      // 0x0A00 + 2m index, 0x0A01 + 2m data, mask m
constexpr uint32_t TFT_LAST = 0x0A0F;
constexpr uint32_t STATUS_INPUTS = 0x1000;  // bits 1-0: the PSU inputs
constexpr uint32_t TOGGLE_LEDS = 0x1003;    // bits 1-0: toggle LEDs, reads back

constexpr uint8_t PANEL_RUNNING = 0x80;   // bit 7 clear holds the controllers in reset
constexpr uint8_t BACKLIGHT_MODE = 0xC0;  // bits 7-6 both set: bits 5-0 are the level
constexpr uint8_t LED_KIND_BUTTON = 1;
constexpr uint8_t LED_KIND_STATUS = 2;
constexpr uint8_t LED_ON = 0x20;

constexpr unsigned SHORT_NUMBER = 0;  // request number 0 carries the short address form
constexpr unsigned LONG_NUMBER = 1;

enum class AddressForm { Short, Long };

std::optional<AddressForm> formOf(unsigned long number) {
    for (unsigned size : {16u, 24u}) {
        if (number == _IOC(_IOC_READ | _IOC_WRITE, '$', SHORT_NUMBER, size))
            return AddressForm::Short;
        if (number == _IOC(_IOC_READ | _IOC_WRITE, '$', LONG_NUMBER, size))
            return AddressForm::Long;
    }
    return std::nullopt;
}

struct Access {
    uint32_t address = 0;
    bool read = false;
};

// The address word as the driver checks it: the form's mark bit set, its top bit clear.
std::optional<Access> decodeAddress(AddressForm form, uint32_t word) {
    if (form == AddressForm::Short) {
        const auto shortWord = static_cast<uint16_t>(word);
        if (!(shortWord & FPGA_SHORT_MARK) || (shortWord & 0x8000))
            return std::nullopt;
        return Access{static_cast<uint32_t>(shortWord & FPGA_SHORT_ADDRESS_MASK),
                      (shortWord & FPGA_SHORT_READ) != 0};
    }
    if (!(word & FPGA_LONG_MARK) || (word & 0x80000000u))
        return std::nullopt;
    return Access{word & FPGA_LONG_ADDRESS_MASK, (word & FPGA_LONG_READ) != 0};
}

std::string formatLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatLine(const char* format, ...) {
    char buffer[96];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

uint32_t burstCrc(const uint16_t* words, uint32_t count) {
    uLong crc = crc32(0L, Z_NULL, 0);
    for (uint32_t i = 0; i < count; ++i) {
        const Bytef bytes[2] = {static_cast<Bytef>(words[i] & 0xFF),
                                static_cast<Bytef>(words[i] >> 8)};
        crc = crc32(crc, bytes, 2);
    }
    return static_cast<uint32_t>(crc);
}

}  // namespace

bool isFpgaRequestNumber(unsigned long number) {
    return formOf(number).has_value();
}

struct FpgaModel::Board {
    Board(TraceSink traceSink, PanelViewFile* storage)
        : sink(std::move(traceSink)),
          own(storage ? nullptr : std::make_unique<PanelViewFile>()),
          view(storage ? *storage : *own),
          state(view.state),
          controllers{controller(0), controller(1), controller(2)} {
        controllersInReset =
            state.panel_control_valid && (state.panel_control & PANEL_RUNNING) == 0;
        toggleRegister = static_cast<uint16_t>(state.toggle_leds[0] | state.toggle_leds[1] << 1);
    }

    TftController controller(int screen) {
        return TftController(state.screens[screen], state.screens_on[screen] != 0);
    }
    void trace(const std::string& line) {
        if (sink)
            sink(line);
    }
    void writeRegister(uint32_t address, uint16_t value);
    uint16_t readRegister(uint32_t address) const;
    void writePanelControl(uint8_t byte);
    void writeLedCommand(uint8_t byte);
    void writeTft(uint32_t address, uint16_t value);
    void writeBurst(uint32_t address, const uint16_t* words, uint32_t count);
    void takeScreensOn();

    mutable std::mutex mutex;
    TraceSink sink;
    std::map<int, long> connections;  // open connection -> pid
    int lastConnection = 0;
    std::unique_ptr<PanelViewFile> own;  // the state's memory when no file holds it
    PanelViewFile& view;
    PanelViewState& state;
    unsigned statusInputs = 0;
    bool controllersInReset = false;
    uint16_t toggleRegister = 0;
    std::array<TftController, SCREEN_COUNT> controllers;
};

namespace {

// Holds the picture's sequence counter odd while it lives, so that readers of a shared picture
// never keep a copy taken in the middle of an access. Under the model's lock.
class Update {
public:
    explicit Update(std::atomic<uint32_t>& sequence)
        : _sequence(sequence), _start(sequence.load(std::memory_order_relaxed)) {
        _sequence.store(_start + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    ~Update() { _sequence.store(_start + 2, std::memory_order_release); }
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;

private:
    std::atomic<uint32_t>& _sequence;
    uint32_t _start;
};

}  // namespace

void FpgaModel::Board::writeRegister(uint32_t address, uint16_t value) {
    if (address == PANEL_CONTROL) {
        writePanelControl(static_cast<uint8_t>(value >> 8));
    } else if (address == LED_COMMAND) {
        writeLedCommand(static_cast<uint8_t>(value >> 8));
    } else if (address >= TFT_FIRST && address <= TFT_LAST) {
        writeTft(address, value);
    } else if (address == TOGGLE_LEDS) {
        toggleRegister = value;
        state.toggle_leds[0] = static_cast<uint8_t>(value & 1);
        state.toggle_leds[1] = static_cast<uint8_t>((value >> 1) & 1);
    }
    // Writes to any other address reach no modelled register.
}

uint16_t FpgaModel::Board::readRegister(uint32_t address) const {
    switch (address) {
    case STATUS_INPUTS:
        return static_cast<uint16_t>(statusInputs);
    case TOGGLE_LEDS:
        return toggleRegister;
    default:
        return 0;  // further status and id registers are not modelled
    }
}

void FpgaModel::Board::writePanelControl(uint8_t byte) {
    state.panel_control_valid = 1;
    state.panel_control = byte;
    if ((byte & BACKLIGHT_MODE) == BACKLIGHT_MODE) {
        state.backlight_valid = 1;
        state.backlight_level = byte & 0x3F;
    } else {
        state.backlight_valid = 0;
        state.backlight_level = 0;
    }
    controllersInReset = (byte & PANEL_RUNNING) == 0;
    if (controllersInReset) {
        for (auto& controller : controllers)
            controller.reset();
    }
}

void FpgaModel::Board::writeLedCommand(uint8_t byte) {
    const unsigned kind = byte >> 6;
    const bool on = (byte & LED_ON) != 0;
    const unsigned index = byte & 0x1F;
    if (kind == LED_KIND_BUTTON) {
        state.button_leds[index] = on;
    } else if (kind == LED_KIND_STATUS) {
        state.status_leds[index] = on;
    }
    // Kinds 00 and 11 select no LED.
}

void FpgaModel::Board::writeTft(uint32_t address, uint16_t value) {
    if (controllersInReset)
        return;
    const uint32_t offset = address - TFT_FIRST;
    const unsigned mask = offset / 2;
    const bool data = (offset & 1) != 0;
    for (int screen = 0; screen < SCREEN_COUNT; ++screen) {
        if (!(mask & (1u << screen)))
            continue;
        if (data) {
            controllers[screen].writeData(value);
        } else {
            controllers[screen].writeIndex(static_cast<uint8_t>(value >> 8));
        }
    }
}

void FpgaModel::Board::takeScreensOn() {
    for (int screen = 0; screen < SCREEN_COUNT; ++screen)
        state.screens_on[screen] = controllers[screen].isOn();
}

// The controllers behind one data register are independent of each other: each takes the
// whole burst in turn, which is what it would take word by word.
void FpgaModel::Board::writeBurst(uint32_t address, const uint16_t* words, uint32_t count) {
    const bool tftData = address >= TFT_FIRST && address <= TFT_LAST && (address & 1) != 0;
    if (!tftData) {
        for (uint32_t i = 0; i < count; ++i)
            writeRegister(address, words[i]);
        return;
    }
    if (controllersInReset)
        return;
    const unsigned mask = (address - TFT_FIRST) / 2;
    for (int screen = 0; screen < SCREEN_COUNT; ++screen) {
        if (mask & (1u << screen))
            controllers[screen].writeData(words, count);
    }
}

FpgaModel::FpgaModel(TraceSink sink, PanelViewFile* storage)
    : _board(std::make_unique<Board>(std::move(sink), storage)) {}

FpgaModel::~FpgaModel() = default;

int FpgaModel::openConnection(long pid) {
    std::lock_guard<std::mutex> lock(_board->mutex);
    const int connection = ++_board->lastConnection;
    _board->connections[connection] = pid;
    _board->trace(formatLine("%d OPEN %ld", connection, pid));
    return connection;
}

void FpgaModel::closeConnection(int connection) {
    std::lock_guard<std::mutex> lock(_board->mutex);
    if (_board->connections.erase(connection) == 0)
        return;
    _board->trace(formatLine("%d CLOSE", connection));
}

int FpgaModel::execute(int connection, unsigned long request, fpga_request* record) {
    if (record == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (request != FPGA_REQ_SHORT && request != FPGA_REQ_LONG) {
        errno = EINVAL;
        return -1;
    }
    if (record->reserved != 0) {
        errno = EINVAL;
        return -1;
    }
    RequestFields fields;
    fields.number = request;
    fields.address_word =
        request == FPGA_REQ_SHORT ? record->address.short_word : record->address.long_word;
    fields.count = record->count;
    if (record->count == 1) {
        fields.value = record->data.value;
    } else if (record->count > 1) {
        fields.words = record->data.words;
    }
    const int result = executeFields(connection, fields);
    if (result == 0 && record->count == 1)
        record->data.value = fields.value;
    return result;
}

int FpgaModel::executeFields(int connection, RequestFields& fields) {
    const std::optional<AddressForm> form = formOf(fields.number);
    const std::optional<Access> access =
        form ? decodeAddress(*form, fields.address_word) : std::nullopt;
    // Only single words are read; a burst is always a write.
    if (!access || (access->read && fields.count != 1)) {
        errno = EINVAL;
        return -1;
    }
    if (fields.count > 1 && fields.words == nullptr) {
        errno = EFAULT;
        return -1;
    }
    std::lock_guard<std::mutex> lock(_board->mutex);
    Board& board = *_board;
    if (board.connections.count(connection) == 0) {
        errno = EBADF;
        return -1;
    }
    const Update update(board.view.sequence);
    ++board.state.accesses;
    // Without a sink no line is made: a burst's checksum costs more than the burst itself.
    const bool tracing = static_cast<bool>(board.sink);
    if (access->read) {
        fields.value = board.readRegister(access->address);
        if (tracing)
            board.trace(
                formatLine("%d R %04" PRIX32 " %04X", connection, access->address, fields.value));
    } else if (fields.count == 1) {
        board.writeRegister(access->address, fields.value);
        if (tracing)
            board.trace(
                formatLine("%d W %04" PRIX32 " %04X", connection, access->address, fields.value));
    } else {
        board.writeBurst(access->address, fields.words, fields.count);
        if (tracing)
            board.trace(formatLine("%d B %04" PRIX32 " %" PRIu32 " %08" PRIX32, connection,
                                   access->address, fields.count,
                                   burstCrc(fields.words, fields.count)));
    }
    board.takeScreensOn();
    return 0;
}

BoardState boardState(const PanelViewState& view) {
    BoardState state;
    for (size_t i = 0; i < state.button_leds.size(); ++i) {
        state.button_leds[i] = view.button_leds[i] != 0;
        state.status_leds[i] = view.status_leds[i] != 0;
    }
    for (size_t i = 0; i < state.toggle_leds.size(); ++i)
        state.toggle_leds[i] = view.toggle_leds[i] != 0;
    if (view.panel_control_valid)
        state.panel_control = view.panel_control;
    if (view.backlight_valid)
        state.backlight_level = view.backlight_level;
    for (int screen = 0; screen < SCREEN_COUNT; ++screen)
        state.screens_on[screen] = view.screens_on[screen] != 0;
    state.accesses = view.accesses;
    return state;
}

BoardState FpgaModel::state() const {
    std::lock_guard<std::mutex> lock(_board->mutex);
    BoardState result = boardState(_board->state);
    result.status_inputs = _board->statusInputs;
    return result;
}

Picture FpgaModel::picture(int screen) const {
    Picture result{};
    if (screen < 0 || screen >= SCREEN_COUNT)
        return result;
    std::lock_guard<std::mutex> lock(_board->mutex);
    const uint16_t* pixels = _board->state.screens[screen];
    std::copy(pixels, pixels + SCREEN_PIXELS, result.begin());
    return result;
}

void FpgaModel::setStatusInputs(unsigned bits) {
    std::lock_guard<std::mutex> lock(_board->mutex);
    _board->statusInputs = bits & 3;
}

}  // namespace panelsim
