// panel.view: the picture of the panel that keylight keeps in its runtime folder, shared with
// its readers (panelview) through a memory mapping.
//
// The file is one PanelViewFile, nothing before or after it: a header, then the state of the
// register model. Writer and readers run on one device, so every number is in the device's
// own byte order; on the little-endian target a screen's words are the bytes of
// /api/screen/N.rgb565.
//
// Updates are guarded by a sequence counter (a seqlock): the writer makes the counter odd,
// changes the state and makes it even again, once for every register access. A reader copies
// the state between two loads of the counter and keeps the copy only when both loads saw the
// same even value; otherwise it copies again. A writer that died in the middle of an update
// leaves the counter odd, and readers give up after a while (PanelViewRead::Busy) until a new
// writer takes the file over.
//
// The writer keeps a file it finds valid and updates it in place. Any other file at the path
// it replaces by renaming a new one over it, so that a mapping never shrinks under a reader:
// a reader holding the old file keeps its last picture and sees the new one when it opens the
// path again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace panelsim {

constexpr int SCREEN_COUNT = 3;
constexpr int SCREEN_WIDTH = 128;
constexpr int SCREEN_HEIGHT = 128;
constexpr int SCREEN_PIXELS = SCREEN_WIDTH * SCREEN_HEIGHT;

// The file's name in the runtime folder ($RUNTIME_DIRECTORY).
constexpr const char* PANEL_VIEW_FILE_NAME = "panel.view";
constexpr char PANEL_VIEW_MAGIC[8] = {'P', 'N', 'L', 'V', 'I', 'E', 'W', '\0'};
// Raised whenever the layout below changes.
constexpr uint32_t PANEL_VIEW_VERSION = 1;

// What the model knows of the board. Flags are 1 for on (or valid) and 0 for off.
struct PanelViewState {
    uint16_t screens[SCREEN_COUNT][SCREEN_PIXELS];  // RGB565, row-major, top row first
    uint8_t button_leds[32];
    uint8_t status_leds[32];
    uint8_t toggle_leds[2];       // toggle 0 is the PSU LED
    uint8_t panel_control_valid;  // 0 until the panel control register is written
    uint8_t panel_control;        // last high byte written to 0x0800
    uint8_t backlight_valid;      // 1 when bits 7-6 of panel control are both set
    uint8_t backlight_level;      // 0..63
    uint8_t screens_on[SCREEN_COUNT];
    uint8_t reserved[7];
    uint64_t accesses;  // register accesses executed since the file was made
};

struct PanelViewFile {
    char magic[8];     // PANEL_VIEW_MAGIC
    uint32_t version;  // PANEL_VIEW_VERSION
    uint32_t size;     // sizeof(PanelViewFile), the size of the file
    std::atomic<uint32_t> sequence;
    uint32_t reserved;
    PanelViewState state;
};

// Mapped by processes that each have their own address: the counter must be a plain word.
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
static_assert(offsetof(PanelViewFile, state) == 24);
static_assert(offsetof(PanelViewState, button_leds) == 98304);
static_assert(offsetof(PanelViewState, accesses) == 98384);
static_assert(sizeof(PanelViewFile) == 98416);

// How reading the picture went.
enum class PanelViewRead {
    Ok,
    Missing,     // no file at the path
    Unreadable,  // it exists but cannot be opened or mapped (permissions, a folder)
    CutShort,    // shorter than its layout, or of another size
    Foreign,     // not a picture of the panel
    OtherVersion,
    Busy,  // every copy was torn: the writer stopped in the middle of an update
};

// One line that says what is wrong with the file at path, for a result other than Ok.
std::string panelViewReadMessage(PanelViewRead result, const std::string& path);

// The file at path opened read-only and mapped. Movable, not copyable.
class PanelViewReader {
public:
    // Opens and checks path; result() tells whether it is a picture of this layout.
    explicit PanelViewReader(const std::string& path);
    ~PanelViewReader();
    PanelViewReader(PanelViewReader&& other) noexcept;
    PanelViewReader& operator=(PanelViewReader&& other) noexcept;
    PanelViewReader(const PanelViewReader&) = delete;
    PanelViewReader& operator=(const PanelViewReader&) = delete;

    PanelViewRead result() const { return _result; }

    // Copies one whole, untorn picture into state. Returns Ok, the result of opening when
    // that failed, or Busy (state then holds an undefined mix) when no untorn copy came
    // about within a tenth of a second.
    PanelViewRead read(PanelViewState& state) const;

private:
    const PanelViewFile* _file = nullptr;
    PanelViewRead _result = PanelViewRead::Missing;
};

// The file at path opened read-write for the one writer, as a PanelViewFile in shared memory.
class PanelViewWriter {
public:
    // Takes the picture at path over when it is valid (a counter left odd by a writer that
    // died is made even), else puts a new, all-zero one in its place, mode 0644 whatever the
    // umask. Returns nullptr and sets error to one line when the file cannot be made.
    static std::unique_ptr<PanelViewWriter> open(const std::string& path, std::string& error);
    ~PanelViewWriter();
    PanelViewWriter(const PanelViewWriter&) = delete;
    PanelViewWriter& operator=(const PanelViewWriter&) = delete;

    PanelViewFile& file() { return *_file; }
    // Whether the file held a picture from an earlier writer.
    bool hadPicture() const { return _had_picture; }

private:
    PanelViewWriter(PanelViewFile* file, bool had_picture);

    PanelViewFile* _file;
    bool _had_picture;
};

}  // namespace panelsim
