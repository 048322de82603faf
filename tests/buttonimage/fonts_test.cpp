#include "buttonimagetext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace buttonimage;

namespace {

template <std::size_t Rows>
bool blank(const std::array<std::uint8_t, Rows>& glyph) {
    return std::all_of(glyph.begin(), glyph.end(), [](std::uint8_t row) { return row == 0; });
}

TEST(FontsTest, codes_below_33_are_blank_and_the_printable_letters_carry_glyphs) {
    for (int code = 0; code < 33; ++code) {
        EXPECT_TRUE(blank(smallFont[code])) << code;
        EXPECT_TRUE(blank(stripFont[code])) << code;
        EXPECT_TRUE(blank(tallFont[code])) << code;
    }
    for (int code : {'0', '9', 'A', 'Z', 'a', 'z', '~'}) {
        EXPECT_FALSE(blank(smallFont[code])) << code;
        EXPECT_FALSE(blank(stripFont[code])) << code;
        EXPECT_FALSE(blank(tallFont[code])) << code;
    }
}

TEST(FontsTest, small_glyphs_sit_in_columns_2_to_6_with_row_0_blank_for_capitals) {
    for (int code = 0; code < GLYPH_COUNT; ++code) {
        for (std::uint8_t row : smallFont[code])
            EXPECT_EQ(row & ~0x3E, 0) << code;
    }
    for (int code = 'A'; code <= 'Z'; ++code)
        EXPECT_EQ(smallFont[code][0], 0) << code;
}

TEST(RenderTextStripTest, lays_out_row_r_of_character_i_at_r_times_n_plus_i) {
    const QString text = QString("Hi") + QChar(0x00E9) + "~";
    const TextStrip strip = renderTextStrip(text);
    ASSERT_EQ(strip.rows, 8);
    ASSERT_EQ(strip.size, 32);
    ASSERT_NE(strip.bytes, nullptr);

    const int codes[] = {'H', 'i', -1, '~'};
    for (int r = 0; r < 8; ++r) {
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t expected =
                codes[i] < 0 ? 0 : stripFont[codes[i]][static_cast<std::size_t>(r)];
            EXPECT_EQ(strip.bytes[static_cast<std::size_t>(r * 4 + i)], expected)
                << "row " << r << " character " << i;
        }
    }
}

TEST(RenderTextStripTest, an_empty_text_gives_an_empty_strip_without_a_buffer) {
    const TextStrip strip = renderTextStrip(QString());
    EXPECT_EQ(strip.size, 0);
    EXPECT_EQ(strip.rows, 8);
    EXPECT_EQ(strip.bytes, nullptr);
}

// The only test that emboldens: the fonts stay changed for the rest of the process.
TEST(EmboldenFontsTest, thickens_strip_and_tall_glyphs_to_the_left_once_except_at_and_m) {
    std::vector<Glyph8> strip(stripFont, stripFont + GLYPH_COUNT);
    std::vector<Glyph12> tall(tallFont, tallFont + GLYPH_COUNT);

    emboldenFonts();
    emboldenFonts();

    for (int code = 0; code < GLYPH_COUNT; ++code) {
        const bool kept = code == '@' || code == 'm';
        for (std::size_t r = 0; r < 8; ++r) {
            const std::uint8_t b = strip[static_cast<std::size_t>(code)][r];
            EXPECT_EQ(stripFont[code][r], kept ? b : static_cast<std::uint8_t>(b | (b << 1)))
                << code << " row " << r;
        }
        for (std::size_t r = 0; r < 12; ++r) {
            const std::uint8_t b = tall[static_cast<std::size_t>(code)][r];
            EXPECT_EQ(tallFont[code][r], kept ? b : static_cast<std::uint8_t>(b | (b << 1)))
                << code << " row " << r;
        }
    }
    const Glyph8 boldA = {{0x00, 0x70, 0xd8, 0xd8, 0xf8, 0xd8, 0xd8, 0x00}};
    EXPECT_EQ(stripFont['A'], boldA);
}

}  // namespace
