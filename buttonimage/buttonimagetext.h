#pragma once

// Short texts drawn with fonts built into the program: up to three lines centred in a button
// image, or one line into a strip bitmap of free width.
//
// A button image is the 120-byte picture clients upload for a button: 24 rows of 5 bytes, of
// which pixels 0 to 35 are used; pixel (x, y) is bit y * 40 + x counted from the most
// significant bit of byte 0. A set bit is a lit pixel. Drawing only ever sets pixels.
//
// Characters are taken by their Latin-1 code (0 for characters outside Latin-1); codes 127 and
// above have no glyph. No locking: use from one thread.

#include <QString>

#include <array>
#include <cstdint>
#include <memory>

#include "klm.h"

namespace buttonimage {

constexpr int IMAGE_WIDTH = KLM_BUTTON_IMAGE_WIDTH;
constexpr int IMAGE_HEIGHT = KLM_BUTTON_IMAGE_HEIGHT;
constexpr int IMAGE_ROW_BYTES = KLM_BUTTON_IMAGE_ROW_BYTES;
constexpr int IMAGE_BYTES = IMAGE_HEIGHT * IMAGE_ROW_BYTES;
using ButtonImageBytes = std::array<std::uint8_t, IMAGE_BYTES>;

// Glyphs are indexed by code 0 to 126, one byte per row, the most significant bit leftmost.
constexpr int GLYPH_COUNT = 127;
using Glyph8 = std::array<std::uint8_t, 8>;
using Glyph12 = std::array<std::uint8_t, 12>;

// Button image font: glyph pixels in columns 2 to 6, row 0 blank for capitals.
extern const Glyph8 smallFont[GLYPH_COUNT];
// Strip font; thickened in place by emboldenFonts().
extern Glyph8 stripFont[GLYPH_COUNT];
// 12-row font, glyph pixels in columns 1 to 7; thickened in place by emboldenFonts().
extern Glyph12 tallFont[GLYPH_COUNT];

// Flags of renderTextImage: bit 0 inverts the whole image at the end, bits 1 to 3 invert the
// first, second and third line.
enum TextImageFlag {
    InvertImage = 1 << 0,
    InvertLine1 = 1 << 1,
    InvertLine2 = 1 << 2,
    InvertLine3 = 1 << 3,
};

// Draws one to three lines (split at line feeds) centred in image, 6 pixels per character;
// a text of four or more lines draws nothing. The image is not cleared first.
void renderTextImage(ButtonImageBytes& image, const QString& text, int flags);

// Draws text with smallFont, its first cell at (x, y), cells 6 pixels apart. Inverted, each
// cell is drawn as the complement of its glyph (an 8 x 8 band with the glyph cut out).
void drawTextLine(ButtonImageBytes& image, int x, int y, const QString& text, bool inverted);

// Sets the pixels (x + k, y) whose bit 7 - k of bits is set, k = 0 to 7; pixels outside the
// image are left out.
void drawPixelRow(ButtonImageBytes& image, int x, int y, int bits);

// Complements all 120 bytes.
void invertImage(ButtonImageBytes& image);

// One line in stripFont: 8 rows of one byte per character, row r of character i at
// r * characters + i. The caller owns bytes; an empty text has none (size 0).
struct TextStrip {
    std::unique_ptr<std::uint8_t[]> bytes;
    int size = 0;
    int rows = 0;
};
TextStrip renderTextStrip(const QString& text);

// Thickens stripFont and tallFont by one pixel to the left, once per process; the at sign
// and the lowercase m stay as they are (they would fill in).
void emboldenFonts();

}  // namespace buttonimage
