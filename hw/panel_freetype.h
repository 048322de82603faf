// The library's FreeType handles. Only the text renderer (tft_text.cpp) includes this.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

extern FT_Library ft_library;  // set by panel_open
extern FT_Face ft_face;        // the current font face; nullptr until a font loads
