// What the panel hardware library shares with itself (and its tests and benchmark) only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fpga_request.h"
#include "panel.h"

// ---- Device seam (fpga_device.cpp) ------------------------------------------------------

int device_open(const char* path, int flags);
int device_ioctl(int fd, unsigned long request, fpga_request* record);

// Until called again with nullptr, this thread's register accesses go to observer alone,
// executed by no device (fpga_access.cpp).
void fpga_replay_to(fpga_access_observer observer, void* context);

// ---- Screens ----------------------------------------------------------------------------

// Mask of a screen id (0 -> 1, 1 -> 2, 2 -> 4, -1 -> 7); -1 for any other id, after printing
// "Invalid screen ID %d.\n".
int screen_mask(int screenId);

// Puts the write position at the window's top-left and selects memory write, so that the
// next data words are pixels.
void start_pixel_transfer(int mask);

// ---- Fonts (font.cpp, gzip_inflate.cpp) -------------------------------------------------

// Initialises FreeType (ft_ready reflects the outcome) and releases it again with its face.
void text_engine_start();
void text_engine_stop();

// How glyphs reach the renderer. The cached path (the default) reads the font into memory
// once per load and keeps the cell size and every rendered glyph until the face changes;
// the file path lets FreeType read the font file and render each glyph afresh on every use.
// Both give the same pixels, results and messages; the file path is kept for comparison.
enum class glyph_source { cached, file };
// Takes effect from the next tft_load_font.
void text_glyph_source_set(glyph_source source);

// Inflates a gzip stream; false when data is not a complete gzip stream.
bool gzip_inflate(const uint8_t* data, size_t length, uint8_t** out, size_t* out_length);

// ---- Text steps (tft_text.cpp) ----------------------------------------------------------

// Column window of cells offset .. offset+count-1; writes nothing when the cell is unknown.
void window_text_columns(int mask, int offset, int count);
// Row window of line lineId; writes nothing when the cell is unknown.
void window_text_rows(int mask, int lineId);
void text_line_write(int mask, int lineId, uint16_t fg565, uint16_t bg565, const char* text);
void sub_text_line_write(int mask, int lineId, int offset, int count, uint16_t fg565,
                         uint16_t bg565, const char* text);
// Renders length bytes of text into one line of pixels (128 wide when full, else one cell per
// character, at most 128) and sends it as one burst. 0, or -1 with nothing sent.
int line_bitmap_write(int mask, const char* text, int length, uint16_t fg565, uint16_t bg565,
                      int full);

// ---- Image steps (tft_image.cpp) --------------------------------------------------------

void window_image_rows(int mask, int y, int height);
void window_image_columns(int mask, int x, int width);

// ---- LEDs (leds.cpp) --------------------------------------------------------------------

// The device was just opened: the next toggle indicator write first takes toggle_shadow from
// the toggle register (its indicator bits), once a read of it succeeds.
void toggle_shadow_from_device();

// Starts the gap that the device needs after a button LED command: no register access until
// LED_COMMAND_GAP_US from now on the monotonic clock (led_gap_wait).
void led_gap_begin();
