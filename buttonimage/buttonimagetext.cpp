#include "buttonimagetext.h"

#include <QStringList>

namespace buttonimage {

namespace {

constexpr int SMALL_ADVANCE = 6;
constexpr int GLYPH_ROWS = 8;

bool fontsEmboldened = false;

// Latin-1 code of a character, 0 for one that Latin-1 cannot represent.
unsigned characterCode(QChar character) {
    return static_cast<unsigned char>(character.toLatin1());
}

void setPixel(ButtonImageBytes& image, int x, int y) {
    const int bit = y * IMAGE_ROW_BYTES * 8 + x;
    image[static_cast<std::size_t>(bit / 8)] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
}

// A line of n characters, centred; longer than 6 characters it starts left of the image.
int centredX(const QString& line) {
    return (IMAGE_WIDTH - SMALL_ADVANCE * static_cast<int>(line.size())) / 2;
}

template <std::size_t Rows>
void emboldenGlyphs(std::array<std::uint8_t, Rows>* font) {
    for (int code = 0; code < GLYPH_COUNT; ++code) {
        if (code == '@' || code == 'm')
            continue;
        for (std::uint8_t& row : font[code])
            row = static_cast<std::uint8_t>(row | (row << 1));
    }
}

}  // namespace

void renderTextImage(ButtonImageBytes& image, const QString& text, int flags) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    switch (lines.size()) {
    case 1:
        drawTextLine(image, centredX(lines[0]), 6, lines[0], flags & InvertLine1);
        break;
    case 2:
        drawTextLine(image, centredX(lines[0]), 0, lines[0], flags & InvertLine1);
        drawTextLine(image, centredX(lines[1]), 12, lines[1], flags & InvertLine2);
        break;
    case 3:
        drawTextLine(image, centredX(lines[0]), 0, lines[0], flags & InvertLine1);
        drawTextLine(image, centredX(lines[1]), 8, lines[1], flags & InvertLine2);
        drawTextLine(image, centredX(lines[2]), 16, lines[2], flags & InvertLine3);
        break;
    default:
        break;
    }
    if (flags & InvertImage)
        invertImage(image);
}

void drawTextLine(ButtonImageBytes& image, int x, int y, const QString& text, bool inverted) {
    for (int i = 0; i < static_cast<int>(text.size()); ++i) {
        const unsigned code = characterCode(text[i]);
        if (code >= GLYPH_COUNT)
            continue;
        for (int r = 0; r < GLYPH_ROWS; ++r) {
            const std::uint8_t row = smallFont[code][static_cast<std::size_t>(r)];
            drawPixelRow(image, x + SMALL_ADVANCE * i, y + r, inverted ? (~row & 0xFF) : row);
        }
    }
}

void drawPixelRow(ButtonImageBytes& image, int x, int y, int bits) {
    if (static_cast<unsigned>(y) >= IMAGE_HEIGHT || x >= IMAGE_WIDTH)
        return;
    for (int k = 0; k < 8 && x + k < IMAGE_WIDTH; ++k) {
        if (x + k >= 0 && (bits & (0x80 >> k)))
            setPixel(image, x + k, y);
    }
}

void invertImage(ButtonImageBytes& image) {
    for (std::uint8_t& byte : image)
        byte = static_cast<std::uint8_t>(~byte);
}

TextStrip renderTextStrip(const QString& text) {
    const int n = static_cast<int>(text.size());
    TextStrip strip;
    strip.rows = GLYPH_ROWS;
    strip.size = n * GLYPH_ROWS;
    if (n == 0)
        return strip;
    strip.bytes = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(strip.size));
    for (int i = 0; i < n; ++i) {
        const unsigned code = characterCode(text[i]);
        if (code >= GLYPH_COUNT)
            continue;
        for (int r = 0; r < GLYPH_ROWS; ++r)
            strip.bytes[static_cast<std::size_t>(r * n + i)] =
                stripFont[code][static_cast<std::size_t>(r)];
    }
    return strip;
}

void emboldenFonts() {
    if (fontsEmboldened)
        return;
    fontsEmboldened = true;
    emboldenGlyphs(stripFont);
    emboldenGlyphs(tallFont);
}

}  // namespace buttonimage
