// The panel hardware library: register access to "/dev/fpga-reg", LEDs and status inputs,
// TFT text, TFT images and the TFT controller start-up sequence.
//
// Conventions of every function below:
//   - int results: 0 success, -1 failure, small positive codes for refused arguments;
//     callers may ignore them.
//   - Diagnostics are printed on standard output (log_printf/log_puts, below: printf and
//     puts with the journal's priority); nothing is thrown.
//   - Not thread-safe: the library keeps its state in module globals and takes no locks.
//     Callers serialise every call.
//   - Screen ids are 0, 1, 2, or -1 for all three screens; any other id is refused with
//     "Invalid screen ID %d.\n".
//   - Screen masks: bit 0 screen 0, bit 1 screen 1, bit 2 screen 2 (7 = all three).
//   - Colours taken as uint32_t are 24-bit 0xRRGGBB; the panel itself works in RGB565.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fpga_request.h"

// ---- Module state (one set per process) -------------------------------------------------

extern int fpga_fd;              // descriptor of "/dev/fpga-reg", -1 while not open
extern int ft_ready;             // 1 once panel_open initialised FreeType
extern int toggle_shadow;        // toggle indicator bits as last written, or as read from the
                                 // register before the first write after opening the device
extern uint32_t spi_call_count;  // incremented on every register access; informational

// ---- Diagnostics ------------------------------------------------------------------------

// Priorities of diagnostic lines, numbered as syslog numbers them.
enum class log_priority { err = 3, warning = 4, info = 6, debug = 7 };

// printf and puts on standard output. When standard output is the journal's stream (the one
// JOURNAL_STREAM names), each line of the text begins with "<N>", N the priority, which
// journald takes off and keeps as the line's priority, and the text ends its own line and is
// written at once, line end or not; otherwise the output is exactly printf's or puts'.
// Results as printf's and puts'. A priority less urgent than PANEL_LOG_LEVEL's (the
// environment's at start: "err", "warning", "info" or "debug"; unset, all are written)
// writes nothing, formats nothing and gives 0.
int log_printf(log_priority priority, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
int log_puts(log_priority priority, const char* text);
// Writes length bytes of text and a line end to stream (standard output or error) in one
// piece, on the journal's stream with the prefix before each line of it; nothing when
// priority is not kept.
void log_line(FILE* stream, log_priority priority, const char* text, size_t length);
// Whether lines of priority are written (PANEL_LOG_LEVEL, above).
bool log_kept(log_priority priority);
// Whether stream (standard output or error) is the journal's stream.
bool log_is_journal(FILE* stream);

// ---- Device level (explicit descriptor) -------------------------------------------------

// open(path, O_RDWR); path nullptr means "/dev/fpga-reg". The descriptor, or -1.
int fpga_open(const char* path);
// One register access (one ioctl). count 1: *data is written, or receives the value read;
// count > 1: a burst write of data[0..count-1]. Returns the ioctl result (-1 on failure).
int fpga_access(int fd, uint32_t address, int is_read, uint16_t* data, uint32_t count);
// Whether a register access is in the driver at this moment, on any thread. A process whose
// thread waits here for long has a device that does not answer, not a fault of its own.
// The one function of the library that any thread may call at any time.
bool panel_request_in_progress();
// Reads one register; 0 when the access fails.
uint16_t fpga_read(int fd, uint32_t address);
// Writes count words from data to one register (count > 1 is a burst).
int fpga_write(int fd, uint32_t address, uint16_t* data, uint32_t count);

// Told of every register access the device executed, after it did, with the record as the
// device had it (for a single word, the value written or read). The record and its words
// are the caller's: valid during the call only.
typedef void (*fpga_access_observer)(void* context, unsigned long request,
                                     const fpga_request* record);
// One observer at a time; nullptr removes it. Set it before other threads access the device
// and remove it after they stopped: the library takes no lock for it.
void fpga_set_access_observer(fpga_access_observer observer, void* context);

// ---- Module level (through fpga_fd) -----------------------------------------------------

int reg_write(uint32_t address, uint16_t value);
uint16_t reg_read(uint32_t address);
// Writes byte << 8 (the low byte 0) to a register whose meaning is in its high byte.
int reg_write_high(uint32_t address, uint8_t byte);

// TFT controller access for the screens in mask.
int tft_index(int mask, int number);                        // index register: number's low byte
int tft_data(int mask, uint16_t value);                     // data register: one 16-bit word
int tft_pixels(int mask, uint16_t* words, uint32_t count);  // one burst, count cut to 16 bits
// Sets one controller register: index 0x00, index number, then the value.
int tft_register(int mask, int number, uint16_t value);

// Opens "/dev/fpga-reg" into fpga_fd and initialises FreeType. Reports nothing: a missing
// device leaves fpga_fd at -1 and every later access fails silently. errno is left as the
// device's open left it, so a caller can say why the device is not open.
void panel_open();
// Opens "/dev/fpga-reg" into fpga_fd unless it is open already, for a program that started
// before the device's driver was loaded; FreeType is left as it is. 0, or -1 with errno set
// by the failed open.
int panel_device_open();
// Releases the font face and FreeType. The descriptor stays open.
void panel_close();

// ---- LEDs and status --------------------------------------------------------------------

// Button LED index (0..31): state 1 lit, anything else dark. The device takes no register
// access within 50 us of a button LED command: the call returns at once, and the next
// access of any kind (led_gap_wait) first waits for what is left of the 50 us. An index
// outside 0..31 prints "Invalid LED index %d.\n", writes nothing and returns 1. Otherwise
// the result of the register write.
int led_button_state(int index, int state);
// Waits until 50 us have passed since the last button LED command, sleeping for most of the
// wait and spinning the rest; returns at once when they have. Every register access does
// this first. A program that ends with the device in use calls it last, so that the device
// is ready for whichever program comes next.
void led_gap_wait();
// Sets the calling thread's timer slack to 1 ns. The LED gap sleeps for most of its 50 us,
// and with the default slack of 50 us each of those sleeps may end up to 50 us later. For the
// thread that makes the register accesses after button LED commands; the slack is the
// thread's own.
void led_pause_thread_prepare();
// Status indicator LED index (0..31): as led_button_state, without the gap.
int led_status_indicator(int index, int state);
// Toggle indicator 0 or 1, state 0 or 1. Returns 0; 1 for an index above 1 and 2 for any
// other state, both without writing.
int led_toggle_indicator(int index, int state);
// The toggle indicator register's low byte.
int led_toggle_indicators_get();
// The two status input bits (bits 1-0 of the status register).
int status_bits_get();
// Stores the status byte in *out; -1 (nothing read) when out is null, else 0.
int status_byte_get(uint8_t* out);
// Reads the two 32-bit identification values; -1 (nothing read) when a pointer is null.
int id_words_get(uint32_t* a, uint32_t* b);
// Restores the write window of all three controllers to the whole 128 x 128 screen.
void tft_full_window();

// ---- TFT text ---------------------------------------------------------------------------

// The most character cells one line can show: a cell is at least one pixel wide.
constexpr int TFT_LINE_CELLS_MAX = 128;

// Makes the font file at path (any FreeType bitmap font, gzip-compressed PCF included) the
// current face, at its first fixed size. 0, or -1 with a message. A missing file keeps the
// previous face; a file FreeType rejects leaves no face until a font loads.
int tft_load_font(const char* path);
// Draws the NUL-terminated text as line lineId across the whole screen width, fg on bg.
// Characters that do not fit are dropped.
void tft_text_line(int screenId, int lineId, const char* text, uint32_t fg, uint32_t bg);
// Black text on white.
void tft_text_line_plain(int screenId, int lineId, const char* text);
// Draws exactly numChars bytes of text into the character cells offset .. offset+numChars-1
// of line lineId; the rest of the line keeps its pixels. Clipped to the screen's 128 pixels.
// Any count draws the same as TFT_LINE_CELLS_MAX, as long as offset is not negative.
void tft_sub_text_line(int screenId, int lineId, int offset, const char* text, int numChars,
                       uint32_t fg, uint32_t bg);
// Width and rows of the rendered 'A' of the current face. 0, or -1 when a pointer is null,
// FreeType is not ready or there is no usable face.
int glyph_cell_size(int* width, int* rows);
// Loads the font file at path as tft_load_font does, starting FreeType first when panel_open
// has not, and gives its cell as glyph_cell_size does: for programs that check text positions
// without opening the device. 0, or -1 (with tft_load_font's message, if any).
int font_file_cell_size(const char* path, int* width, int* rows);
// 0xRRGGBB to RGB565.
uint16_t rgb24_to_565(uint32_t c);

// ---- TFT images, blanking, intensity ----------------------------------------------------

// Draws the 24-bit BMP file image bmp[0..length-1] with its top-left pixel at (x, y) of the
// screen(s). 0, or -1 with one message and nothing sent.
int tft_draw_bmp(int screenId, int x, int y, const uint8_t* bmp, size_t length);
// Fills the screen(s) with black.
void tft_blackout(int screenId);
// Fills the screen(s) with pixels: 128 x 128 RGB565 words, top row first.
void tft_fill_screen(int screenId, uint16_t* pixels);
// Backlight intensity of all screens, 0..100 %. 0, or -1 (nothing written) out of range.
int tft_intensity(int percent);
// Decodes the 24-bit uncompressed BMP bmp[0..length-1] into width x height RGB565 pixels,
// top row first. 0 and a malloc'ed array the caller frees; -1 with one message, and then
// (unless an output pointer was null) *pixels is nullptr and width and height are -1.
int bmp_decode(const uint8_t* bmp, size_t length, int* width, int* height, uint16_t** pixels);
// Validates the 54-byte file and information header; copies it to header_out unless null.
// 0, or -1 with one message.
int bmp_header_check(const uint8_t* bmp, size_t length, uint8_t* header_out);
uint16_t bgr_to_565(uint8_t b, uint8_t g, uint8_t r);

// ---- TFT controller start-up ------------------------------------------------------------

// Brings the three TFT controllers out of reset and programs them (takes about 109 ms).
// Returns the result of the last register write.
int tft_controller_init();
// Hands observer the register writes of the start-up sequence, in order and at once, as if
// the device had executed them, and sends nothing to the device: for a picture of a panel
// whose start-up another process made.
void tft_controller_init_replay(fpga_access_observer observer, void* context);
