// Text lines on the TFT screens, drawn from the glyphs of the current face (font.h): the
// character cells' windows, the line's pixels and the burst that sends them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "font.h"
#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

namespace {

// The line being composed: at most 128 x 128 pixels, sent as one burst.
uint16_t line_pixels[SCREEN_WIDTH * SCREEN_HEIGHT];

// Window bounds are worked out in 64 bits: line ids, offsets and counts come from clients,
// and a product of two 32-bit numbers always fits. Only the clamped bound is cut to a byte.
int clamp_byte_low(long long value, int minimum) {
    return static_cast<int>(std::max<long long>(value, minimum) & 0xFF);
}
int clamp_byte_high(long long value, int maximum) {
    return static_cast<int>(std::min<long long>(value, maximum) & 0xFF);
}

// One direction of a text window: its controller register and visible bounds, and how far
// its end reaches past the last cell.
struct text_window_axis {
    int window_register;
    bool across;  // columns: cells are the glyph's width; rows: its height
    int first;
    int last;
    int overhang;
};
constexpr text_window_axis TEXT_COLUMNS = {TFT_REG_WINDOW_COLUMNS, true, TFT_FIRST_COLUMN,
                                           TFT_LAST_COLUMN, 0};
// One row taller than the line; the burst fills only its first rows.
constexpr text_window_axis TEXT_ROWS = {TFT_REG_WINDOW_ROWS, false, TFT_FIRST_ROW, TFT_LAST_ROW, 1};

// Sets the window of axis to cells first_cell .. end_cell - 1; writes nothing when the cell
// is unknown.
void window_text_cells(int mask, const text_window_axis& axis, long long first_cell,
                       long long end_cell) {
    int width = 0;
    int rows = 0;
    if (glyph_cell_size(&width, &rows) != 0) {
        return;
    }
    const long long cell = axis.across ? width : rows;
    const int first = clamp_byte_low(cell * first_cell + axis.first, axis.first);
    const int last = clamp_byte_high(cell * end_cell + axis.first - 1 + axis.overhang, axis.last);
    tft_register(mask, axis.window_register, static_cast<uint16_t>((last << 8) | first));
}

// For every byte of a glyph row, its eight pixels as all-ones (set) or zero (clear) words,
// leftmost first, so that a row is drawn eight pixels at a time.
struct byte_pixel_masks {
    uint16_t of[256][8];
    constexpr byte_pixel_masks() : of{} {
        for (int value = 0; value < 256; ++value) {
            for (int i = 0; i < 8; ++i) {
                of[value][i] = (value >> (7 - i)) & 1 ? 0xFFFF : 0x0000;
            }
        }
    }
};
constexpr byte_pixel_masks pixel_masks;

// One bitmap row at pen_x of a line line_width pixels wide: fg where a bit is set, bg where
// it is clear (fg = bg ^ colour_flip); pixels outside the line are not drawn.
void draw_glyph_row(uint16_t* out, int line_width, int pen_x, uint32_t bits, int count, uint16_t bg,
                    uint16_t colour_flip) {
    for (int k = 0; 8 * k < count; ++k) {
        const int x0 = pen_x + 8 * k;
        const uint16_t* masks = pixel_masks.of[(bits >> (24 - 8 * k)) & 0xFF];
        const int n = std::min(8, count - 8 * k);
        if (x0 >= 0 && n == 8 && x0 + 8 <= line_width) {
            for (int i = 0; i < 8; ++i) {
                out[x0 + i] = static_cast<uint16_t>(bg ^ (colour_flip & masks[i]));
            }
            continue;
        }
        for (int i = std::max(0, -x0); i < n && x0 + i < line_width; ++i) {
            out[x0 + i] = static_cast<uint16_t>(bg ^ (colour_flip & masks[i]));
        }
    }
}

}  // namespace

uint16_t rgb24_to_565(uint32_t c) {
    return static_cast<uint16_t>(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c & 0xFF) >> 3));
}

void window_text_columns(int mask, int offset, int count) {
    window_text_cells(mask, TEXT_COLUMNS, offset, static_cast<long long>(offset) + count);
}

void window_text_rows(int mask, int lineId) {
    window_text_cells(mask, TEXT_ROWS, lineId, static_cast<long long>(lineId) + 1);
}

int line_bitmap_write(int mask, const char* text, int length, uint16_t fg565, uint16_t bg565,
                      int full) {
    if (!text) {
        return -1;
    }
    if (!ft_ready) {
        return 0;
    }
    int cell_width = 0;
    int cell_rows = 0;
    if (glyph_cell_size(&cell_width, &cell_rows) != 0) {
        return -1;
    }
    // The line never leaves the 128 x 128 canvas, however wide the run or tall the font.
    const int line_width =
        full ? SCREEN_WIDTH
             : static_cast<int>(std::clamp(static_cast<long long>(cell_width) * length, 0LL,
                                           static_cast<long long>(SCREEN_WIDTH)));
    const int line_rows = std::min(cell_rows, SCREEN_HEIGHT);
    const int pixel_count = line_width * line_rows;
    std::fill(line_pixels, line_pixels + pixel_count, bg565);

    const uint16_t colour_flip = fg565 ^ bg565;
    int pen_x = 0;
    int pen_y = 0;
    for (int i = 0; i < length; ++i) {
        const rendered_glyph* glyph = glyph_for(static_cast<unsigned char>(text[i]));
        if (!glyph) {
            return -1;
        }
        // A character that does not fit ends the line; it is sent with what fits.
        if (pen_x + glyph->width > line_width) {
            break;
        }
        if (glyph->pitch != 4) {
            return -1;
        }
        // The bearings are not used: the bitmap's first row and column land at the pen.
        const int rows = std::min(glyph->rows, SCREEN_HEIGHT);
        for (int r = 0; r < rows && pen_y + r < line_rows; ++r) {
            if (pen_y + r >= 0) {
                draw_glyph_row(line_pixels + (pen_y + r) * line_width, line_width, pen_x,
                               glyph->row_bits[r], glyph->bits, bg565, colour_flip);
            }
        }
        pen_x += static_cast<int>(glyph->advance_x >> 6);
        pen_y += static_cast<int>(glyph->advance_y >> 6);
    }
    tft_pixels(mask, line_pixels, static_cast<uint32_t>(pixel_count));
    return 0;
}

void text_line_write(int mask, int lineId, uint16_t fg565, uint16_t bg565, const char* text) {
    window_text_rows(mask, lineId);
    start_pixel_transfer(mask);
    const int length = text ? static_cast<int>(std::strlen(text)) : 0;
    if (line_bitmap_write(mask, text, length, fg565, bg565, 1) == -1) {
        log_puts(log_priority::err, "Error generating line bitmap using FreeType.");
    }
}

void sub_text_line_write(int mask, int lineId, int offset, int count, uint16_t fg565,
                         uint16_t bg565, const char* text) {
    window_text_columns(mask, offset, count);
    window_text_rows(mask, lineId);
    start_pixel_transfer(mask);
    if (line_bitmap_write(mask, text, count, fg565, bg565, 0) == -1) {
        log_puts(log_priority::err, "Error generating line bitmap using FreeType.");
    }
}

void tft_text_line(int screenId, int lineId, const char* text, uint32_t fg, uint32_t bg) {
    const uint16_t fg565 = rgb24_to_565(fg);
    const uint16_t bg565 = rgb24_to_565(bg);
    const int mask = screen_mask(screenId);
    if (mask < 0) {
        return;
    }
    text_line_write(mask, lineId, fg565, bg565, text);
    tft_full_window();
}

void tft_text_line_plain(int screenId, int lineId, const char* text) {
    tft_text_line(screenId, lineId, text, 0x000000, 0xFFFFFF);
    tft_full_window();
}

void tft_sub_text_line(int screenId, int lineId, int offset, const char* text, int numChars,
                       uint32_t fg, uint32_t bg) {
    const int mask = screen_mask(screenId);
    if (mask < 0) {
        return;
    }
    sub_text_line_write(mask, lineId, offset, numChars, rgb24_to_565(fg), rgb24_to_565(bg), text);
    tft_full_window();
}
