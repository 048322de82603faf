// Renders one line of text as the panel should show it, so that system tests can compare a
// screen picture with the font's own glyphs: each glyph bitmap from FreeType is placed at the
// pen with its first row on the line's first row (bearings unused), the pen moves by the
// glyph's advance, and a glyph that would pass the line's width ends the line.
//
//   glyphline FONT WIDTH TEXT FG565 BG565
//   glyphline FONT --cell
//
// The first writes WIDTH x H RGB565 words, little-endian, row by row, to standard output; the
// cell is the bitmap of the glyph 'A' (W columns, H rows). Colours are decimal or 0x-prefixed
// 16-bit values. The second prints the cell as "W H".
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "glyphline: %s\n", what);
    return 1;
}

bool glyphBitIsSet(const FT_Bitmap& bitmap, unsigned row, unsigned column) {
    const unsigned char* line = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
    return (line[column / 8] & (0x80u >> (column % 8))) != 0;
}

// A FreeType face at the font's first fixed size; released with the object.
class Font {
public:
    explicit Font(const char* path) {
        if (FT_Init_FreeType(&_library) != 0) {
            _library = nullptr;
            return;
        }
        if (FT_New_Face(_library, path, 0, &_face) != 0) {
            _face = nullptr;
            return;
        }
        // FreeType does not match the first size of most 75 and 100 dpi faces by its pixel size,
        // and selects a character map only for Unicode and Latin-1 faces.
        _sized = _face->num_fixed_sizes > 0 &&
                 (FT_Set_Pixel_Sizes(_face, static_cast<FT_UInt>(_face->available_sizes[0].width),
                                     static_cast<FT_UInt>(_face->available_sizes[0].height)) == 0 ||
                  FT_Select_Size(_face, 0) == 0);
        if (!_face->charmap && _face->num_charmaps > 0)
            FT_Set_Charmap(_face, _face->charmaps[0]);
    }
    ~Font() {
        if (_face)
            FT_Done_Face(_face);
        if (_library)
            FT_Done_FreeType(_library);
    }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    bool usable() const { return _sized; }
    FT_Face face() const { return _face; }

private:
    FT_Library _library = nullptr;
    FT_Face _face = nullptr;
    bool _sized = false;
};

// Writes the line's pixels; height is the rows of the cell.
int renderLine(FT_Face face, int height, char** argv) {
    const int width = std::atoi(argv[2]);
    const std::string text = argv[3];
    const auto fg = static_cast<uint16_t>(std::strtoul(argv[4], nullptr, 0));
    const auto bg = static_cast<uint16_t>(std::strtoul(argv[5], nullptr, 0));
    if (width <= 0 || width > 128)
        return fail("WIDTH must be 1..128");

    std::vector<uint16_t> line(static_cast<size_t>(width * height), bg);
    int penX = 0;
    int penY = 0;
    for (unsigned char c : text) {
        if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0)
            return fail("cannot render a character");
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO)
            return fail("the font is not a bitmap font");
        if (penX + static_cast<int>(bitmap.width) > width)
            break;
        for (unsigned r = 0; r < bitmap.rows && penY + static_cast<int>(r) < height; ++r) {
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const int x = penX + static_cast<int>(col);
                if (x < width)
                    line[static_cast<size_t>((penY + static_cast<int>(r)) * width + x)] =
                        glyphBitIsSet(bitmap, r, col) ? fg : bg;
            }
        }
        penX += static_cast<int>(face->glyph->advance.x >> 6);
        penY += static_cast<int>(face->glyph->advance.y >> 6);
    }

    for (uint16_t pixel : line) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(pixel & 0xFF),
                                        static_cast<unsigned char>(pixel >> 8)};
        std::fwrite(bytes, 1, 2, stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool cellOnly = argc == 3 && std::strcmp(argv[2], "--cell") == 0;
    if (argc != 6 && !cellOnly)
        return fail("usage: glyphline FONT WIDTH TEXT FG565 BG565 | glyphline FONT --cell");

    const Font font(argv[1]);
    if (!font.usable())
        return fail("cannot open the font at a fixed size");
    if (FT_Load_Char(font.face(), 'A', FT_LOAD_RENDER) != 0)
        return fail("cannot render 'A'");
    const FT_Bitmap& cell = font.face()->glyph->bitmap;
    if (cellOnly) {
        std::printf("%u %u\n", cell.width, cell.rows);
        return 0;
    }
    return renderLine(font.face(), static_cast<int>(cell.rows), argv);
}
