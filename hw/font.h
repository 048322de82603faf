// Font loading of the panel hardware library, as the text renderer (tft_text.cpp) sees it:
// the glyphs of the current face.
#pragma once

#include <cstdint>

#include "registers.h"

// A bitmap font glyph reduced to what the line renderer draws.
struct rendered_glyph {
    enum class state { unknown, usable, failed };
    state status = state::unknown;
    int width = 0;       // bitmap width in pixels
    int rows = 0;        // bitmap rows
    int pitch = 0;       // bytes per bitmap row; only 4 can be drawn
    int bits = 0;        // pixels each row contributes (the last byte may be partial)
    long advance_x = 0;  // 26.6, from the glyph slot
    long advance_y = 0;
    // Row r, leftmost pixel in bit 31; rows past the canvas height are never drawn.
    uint32_t row_bits[SCREEN_HEIGHT] = {};
};

// The glyph of one character of the current face; nullptr when FreeType cannot give it.
// Owned by the library: valid until the next font load or panel_close on the cached path,
// until the next call on the file path.
const rendered_glyph* glyph_for(unsigned code);
