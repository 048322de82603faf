// Text lines on the TFT screens, rendered with FreeType from a bitmap font.
//
// FreeType reads a gzip-compressed PCF through a decompressing stream that starts over at
// every backward seek, which makes each glyph load cost tens of microseconds. So a font is
// inflated into memory once when it loads, and the cell size and every glyph rendered from
// the current face are kept until the face changes. The file-backed path (FreeType reading
// the file, every glyph rendered afresh) stays selectable so both can be compared.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "panel.h"
#include "panel_freetype.h"
#include FT_GLYPH_H
#include "panel_internal.h"
#include "registers.h"

int ft_ready = 0;
FT_Library ft_library = nullptr;
FT_Face ft_face = nullptr;

namespace {

// A bitmap font glyph reduced to what the line renderer draws.
struct rendered_glyph {
    enum class state { unknown, usable, failed };
    state status = state::unknown;
    int width = 0;   // bitmap width in pixels
    int rows = 0;    // bitmap rows
    int pitch = 0;   // bytes per bitmap row; only 4 can be drawn
    int bits = 0;    // pixels each row contributes (the last byte may be partial)
    long advance_x = 0;  // 26.6, from the glyph slot
    long advance_y = 0;
    // Row r, leftmost pixel in bit 31; rows past the canvas height are never drawn.
    uint32_t row_bits[SCREEN_HEIGHT] = {};
};

// Everything derived from the current face.
struct font_cache {
    glyph_source source = glyph_source::cached;  // the path the next load takes
    bool keeps_glyphs = false;       // the current face was loaded on the cached path
    uint8_t* font_bytes = nullptr;   // the inflated font; must outlive the face made from it
    rendered_glyph glyphs[256];
};

font_cache cache;
rendered_glyph scratch_glyph;
// The line being composed: at most 128 x 128 pixels, sent as one burst.
uint16_t line_pixels[SCREEN_WIDTH * SCREEN_HEIGHT];

// Releases the face and everything derived from it.
void drop_face() {
    FT_Done_Face(ft_face);
    ft_face = nullptr;
    std::free(cache.font_bytes);
    cache.font_bytes = nullptr;
    cache.keeps_glyphs = false;
    for (rendered_glyph& glyph : cache.glyphs) {
        glyph.status = rendered_glyph::state::unknown;
    }
}

// FT_Load_Char with rendering, a copy of the glyph, its conversion to a bitmap; the row
// layout read as the 32-bit little-endian word at 4 * r, bit 7 of each byte leftmost.
void render_glyph(unsigned code, rendered_glyph& out) {
    out.status = rendered_glyph::state::failed;
    if (FT_Load_Char(ft_face, code, FT_LOAD_RENDER) != 0) {
        return;
    }
    FT_Glyph glyph;
    if (FT_Get_Glyph(ft_face->glyph, &glyph) != 0) {
        return;
    }
    if (glyph->format != FT_GLYPH_FORMAT_BITMAP ||
        FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_NORMAL, nullptr, 1) != 0) {
        FT_Done_Glyph(glyph);
        return;
    }
    const FT_Bitmap& bitmap = reinterpret_cast<FT_BitmapGlyph>(glyph)->bitmap;
    out.width = static_cast<int>(bitmap.width);
    out.rows = static_cast<int>(bitmap.rows);
    out.pitch = bitmap.pitch;
    const int bytes = std::max(1, (out.width + 7) / 8);
    const int last_byte_bits = out.width % 8 == 0 ? 8 : out.width % 8;
    out.bits = 8 * (bytes - 1) + last_byte_bits;
    out.advance_x = ft_face->glyph->advance.x;
    out.advance_y = ft_face->glyph->advance.y;
    if (out.pitch == 4) {
        const int stored = std::min(out.rows, SCREEN_HEIGHT);
        for (int r = 0; r < stored; ++r) {
            const uint8_t* row = bitmap.buffer + 4 * r;
            out.row_bits[r] = (uint32_t{row[0]} << 24) | (uint32_t{row[1]} << 16) |
                              (uint32_t{row[2]} << 8) | uint32_t{row[3]};
        }
    }
    FT_Done_Glyph(glyph);
    out.status = rendered_glyph::state::usable;
}

// The glyph of one character of the current face; nullptr when FreeType cannot give it.
const rendered_glyph* glyph_for(unsigned code) {
    rendered_glyph* glyph = &scratch_glyph;
    if (cache.keeps_glyphs) {
        glyph = &cache.glyphs[code & 0xFF];
        if (glyph->status != rendered_glyph::state::unknown) {
            return glyph->status == rendered_glyph::state::usable ? glyph : nullptr;
        }
    }
    render_glyph(code, *glyph);
    return glyph->status == rendered_glyph::state::usable ? glyph : nullptr;
}

// Reads the whole file; a gzip file is inflated. nullptr when it cannot be read.
uint8_t* read_font_file(const char* path, size_t* length) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return nullptr;
    }
    size_t capacity = 64 * 1024;
    size_t used = 0;
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(capacity));
    while (bytes) {
        used += std::fread(bytes + used, 1, capacity - used, file);
        if (used < capacity) {
            break;
        }
        capacity *= 2;
        uint8_t* grown = static_cast<uint8_t*>(std::realloc(bytes, capacity));
        if (!grown) {
            std::free(bytes);
        }
        bytes = grown;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (!bytes || failed || used == 0) {
        std::free(bytes);
        return nullptr;
    }
    uint8_t* inflated = nullptr;
    size_t inflated_length = 0;
    if (used >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B &&
        gzip_inflate(bytes, used, &inflated, &inflated_length)) {
        std::free(bytes);
        *length = inflated_length;
        return inflated;
    }
    *length = used;
    return bytes;
}

// Opens the face from the inflated bytes; when that is impossible or FreeType refuses them,
// FreeType opens the file itself, so that its verdict and error code stay the file's own.
FT_Error open_face(const char* path) {
    if (cache.source == glyph_source::cached) {
        size_t length = 0;
        uint8_t* bytes = read_font_file(path, &length);
        if (bytes && FT_New_Memory_Face(ft_library, bytes, static_cast<FT_Long>(length), 0,
                                        &ft_face) == 0) {
            cache.font_bytes = bytes;
            return 0;
        }
        std::free(bytes);
        ft_face = nullptr;
    }
    const FT_Error error = FT_New_Face(ft_library, path, 0, &ft_face);
    if (error != 0) {
        ft_face = nullptr;
    }
    return error;
}

// Window bounds are computed in 64 bits: a client's line, offset or count may be any 32-bit
// number, and only the clamped result has to fit a byte.
int clamp_byte_low(long long value, int minimum) {
    return static_cast<int>(std::max(value, static_cast<long long>(minimum)) & 0xFF);
}
int clamp_byte_high(long long value, int maximum) {
    return static_cast<int>(std::min(value, static_cast<long long>(maximum)) & 0xFF);
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
void draw_glyph_row(uint16_t* out, int line_width, int pen_x, uint32_t bits, int count,
                    uint16_t bg, uint16_t colour_flip) {
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

void text_engine_start() { ft_ready = FT_Init_FreeType(&ft_library) == 0 ? 1 : 0; }

void text_engine_stop() {
    if (!ft_ready) {
        return;
    }
    drop_face();
    FT_Done_FreeType(ft_library);
    ft_library = nullptr;
    ft_ready = 0;
}

void text_glyph_source_set(glyph_source source) { cache.source = source; }

uint16_t rgb24_to_565(uint32_t c) {
    return static_cast<uint16_t>(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c & 0xFF) >> 3));
}

int glyph_cell_size(int* width, int* rows) {
    if (!width || !rows || !ft_ready) {
        return -1;
    }
    const rendered_glyph* cell = glyph_for('A');
    if (!cell) {
        return -1;
    }
    *width = cell->width;
    *rows = cell->rows;
    return 0;
}

int tft_load_font(const char* path) {
    if (!path) {
        return -1;
    }
    struct stat info;
    if (stat(path, &info) != 0) {
        if (errno == ENOENT) {
            printf("Font file '%s' doesn't exist.\n", path);
        } else {
            printf("stat('%s') returned error %d.\n", path, errno);
        }
        return -1;
    }
    if (!ft_ready) {
        return -1;
    }
    // The old face goes first, so a failed load leaves no face at all.
    drop_face();
    const FT_Error error = open_face(path);
    if (error != 0) {
        printf("Error calling FT_New_Face(): error = %d\n", error);
        return -1;
    }
    cache.keeps_glyphs = cache.source == glyph_source::cached;
    // A font without fixed sizes has no bitmap size to select.
    if (ft_face->num_fixed_sizes < 1) {
        return -1;
    }
    const FT_Bitmap_Size& size = ft_face->available_sizes[0];
    if (FT_Set_Pixel_Sizes(ft_face, static_cast<FT_UInt>(size.width),
                           static_cast<FT_UInt>(size.height)) != 0) {
        return -1;
    }
    return 0;
}

void window_text_columns(int mask, int offset, int count) {
    int width = 0;
    int rows = 0;
    if (glyph_cell_size(&width, &rows) != 0) {
        return;
    }
    const long long cell = width;
    const int first = clamp_byte_low(cell * offset + TFT_FIRST_COLUMN, TFT_FIRST_COLUMN);
    const int last = clamp_byte_high(cell * (0LL + offset + count) + TFT_FIRST_COLUMN - 1,
                                     TFT_LAST_COLUMN);
    tft_register(mask, TFT_REG_WINDOW_COLUMNS, static_cast<uint16_t>((last << 8) | first));
}

void window_text_rows(int mask, int lineId) {
    int width = 0;
    int rows = 0;
    if (glyph_cell_size(&width, &rows) != 0) {
        return;
    }
    // One row taller than the line; the burst fills only its first rows.
    const long long line = lineId;
    const int first = clamp_byte_low(rows * line + TFT_FIRST_ROW, TFT_FIRST_ROW);
    const int last = clamp_byte_high(rows * (line + 1) + TFT_FIRST_ROW, TFT_LAST_ROW);
    tft_register(mask, TFT_REG_WINDOW_ROWS, static_cast<uint16_t>((last << 8) | first));
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
        puts("Error generating line bitmap using FreeType.");
    }
}

void sub_text_line_write(int mask, int lineId, int offset, int count, uint16_t fg565,
                         uint16_t bg565, const char* text) {
    window_text_columns(mask, offset, count);
    window_text_rows(mask, lineId);
    start_pixel_transfer(mask);
    if (line_bitmap_write(mask, text, count, fg565, bg565, 0) == -1) {
        puts("Error generating line bitmap using FreeType.");
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
    sub_text_line_write(mask, lineId, offset, numChars, rgb24_to_565(fg),
                        rgb24_to_565(bg), text);
    tft_full_window();
}
