// Text lines on the screens: windows, bursts and the pixels that land on the pictures.
//
// cells.pcf is a font made for these tests (8 x 13 cells): 'A' has one pixel per row at
// column r % 8, 'B' alternates 0xF0 and 0x0F rows, space is empty.
#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "panel_fixture.h"

namespace {

constexpr uint16_t BLACK = 0x0000;
constexpr uint16_t WHITE = 0xFFFF;
constexpr uint16_t RED = 0xF800;

bool cells_pixel(char c, int x, int r) {
    switch (c) {
    case 'A':
        return x == r % 8;
    case 'B':
        return r % 2 == 0 ? x < 4 : x >= 4;
    default:
        return false;
    }
}

uint16_t pixel(const panelsim::Picture& p, int x, int y) {
    return p[static_cast<size_t>(y * 128 + x)];
}

// Checks rows first_row .. first_row+12, columns from x0, against text in the cells font.
void expect_cells_text(const panelsim::Picture& p, int first_row, int x0, const std::string& text,
                       uint16_t fg, uint16_t bg) {
    for (int r = 0; r < 13; ++r) {
        for (size_t k = 0; k < text.size(); ++k) {
            for (int x = 0; x < 8; ++x) {
                const int column = x0 + static_cast<int>(k) * 8 + x;
                ASSERT_EQ(pixel(p, column, first_row + r), cells_pixel(text[k], x, r) ? fg : bg)
                    << "column " << column << " row " << first_row + r;
            }
        }
    }
}

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

class Text : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_EQ(tft_load_font(test_data("cells.pcf").c_str()), 0);
        accesses();
    }
};

}  // namespace

TEST_F(Text, cell_size_is_that_of_the_rendered_A) {
    int width = 0;
    int rows = 0;
    ASSERT_EQ(glyph_cell_size(&width, &rows), 0);
    EXPECT_EQ(width, 8);
    EXPECT_EQ(rows, 13);
    EXPECT_EQ(tft_load_font(x11_font("6x10.pcf.gz").c_str()), 0);
    ASSERT_EQ(glyph_cell_size(&width, &rows), 0);
    EXPECT_EQ(width, 6);
    EXPECT_EQ(rows, 10);
    EXPECT_EQ(glyph_cell_size(nullptr, &rows), -1);
    panel_close();
    EXPECT_EQ(glyph_cell_size(&width, &rows), -1);
}

TEST_F(Text, line_2_of_an_8x13_font_covers_rows_27_to_40) {
    ASSERT_EQ(tft_load_font(x11_font("8x13.pcf.gz").c_str()), 0);
    tft_text_line(0, 2, "Hi", 0xFFFFFF, 0x000000);
    const auto lines = accesses();
    ASSERT_EQ(lines.size(), 3u + 3u + 2u + 1u + 6u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 8),
              (controller_row(1, 0x45, 0x281B) + controller_row(1, 0x21, 0) +
               std::vector<std::string>{"W 0A02 0000", "W 0A02 2200"}));
    EXPECT_TRUE(starts_with(lines[8], "B 0A03 1664 ")) << lines[8];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 9, lines.end()), full_window_rows());
}

TEST_F(Text, sub_text_of_3_cells_at_offset_5_sets_columns_44_to_67) {
    ASSERT_EQ(tft_load_font(x11_font("8x13.pcf.gz").c_str()), 0);
    tft_sub_text_line(1, 2, 5, "abcdef", 3, 0xFFFFFF, 0x000000);
    const auto lines = accesses();
    ASSERT_EQ(lines.size(), 3u * 3 + 2 + 1 + 6);
    EXPECT_EQ(
        std::vector<std::string>(lines.begin(), lines.begin() + 11),
        (controller_row(2, 0x44, 0x432C) + controller_row(2, 0x45, 0x281B) +
         controller_row(2, 0x21, 0) + std::vector<std::string>{"W 0A04 0000", "W 0A04 2200"}));
    EXPECT_TRUE(starts_with(lines[11], "B 0A05 312 ")) << lines[11];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 12, lines.end()), full_window_rows());
}

TEST_F(Text, windows_past_the_right_and_bottom_edges_are_clamped) {
    tft_sub_text_line(0, 9, 14, "AAA", 3, 0xFFFFFF, 0);
    const auto lines = accesses();
    ASSERT_GE(lines.size(), 6u);
    // Columns 116..139 end at 131; rows 118..131 end at 128.
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (controller_row(1, 0x44, 0x8374) + controller_row(1, 0x45, 0x8076)));
}

TEST_F(Text, windows_of_line_ids_and_offsets_far_past_the_screen_keep_the_low_byte_of_the_bound) {
    tft_sub_text_line(0, INT_MAX, INT_MAX, "A", 1, 0xFFFFFF, 0);
    const auto lines = accesses();
    ASSERT_GE(lines.size(), 6u);
    // First column 8 * (2^31 - 1) + 4 ends in 0xFC, the last is clamped at 131; the first row
    // 13 * (2^31 - 1) + 1 ends in 0xF4, the last is clamped at 128.
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (controller_row(1, 0x44, 0x83FC) + controller_row(1, 0x45, 0x80F4)));
}

TEST_F(Text, plain_line_is_black_on_white_and_restores_the_window_twice) {
    tft_text_line_plain(0, 0, "AB");
    const auto p = picture(0);
    expect_cells_text(p, 0, 0, "AB", BLACK, WHITE);
    for (int y = 0; y < 13; ++y) {
        for (int x = 16; x < 128; ++x)
            ASSERT_EQ(pixel(p, x, y), WHITE);
    }
    // Rows below the line stay as they were.
    EXPECT_EQ(pixel(p, 0, 13), BLACK);
    const auto lines = accesses();
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 12, lines.end()),
              (full_window_rows() + full_window_rows()));
}

TEST_F(Text, colours_are_converted_to_rgb565) {
    tft_blackout(0);
    tft_text_line(0, 1, "A", 0xFF0000, 0x000000);
    const auto p = picture(0);
    expect_cells_text(p, 13, 0, "A", RED, BLACK);
    for (int y = 13; y < 26; ++y) {
        for (int x = 8; x < 128; ++x)
            ASSERT_EQ(pixel(p, x, y), BLACK);
    }
    EXPECT_EQ(rgb24_to_565(0xFFFFFF), 0xFFFF);
    EXPECT_EQ(rgb24_to_565(0x00FF00), 0x07E0);
    EXPECT_EQ(rgb24_to_565(0x0000FF), 0x001F);
    EXPECT_EQ(rgb24_to_565(0x123456), 0x11AA);
}

TEST_F(Text, full_line_is_cut_at_the_last_whole_character) {
    ASSERT_EQ(tft_load_font(x11_font("6x10.pcf.gz").c_str()), 0);
    // 21 cells of 6 pixels fit; the 22nd would end at column 132.
    tft_text_line(0, 0, std::string(22, 'M').c_str(), 0xFFFFFF, 0x000000);
    tft_text_line(1, 0, std::string(21, 'M').c_str(), 0xFFFFFF, 0x000000);
    const auto cut = picture(0);
    EXPECT_EQ(cut, picture(1));
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(pixel(cut, 126, y), BLACK);
        EXPECT_EQ(pixel(cut, 127, y), BLACK);
    }
    EXPECT_NE(std::count(cut.begin(), cut.end(), 0xFFFF), 0);
}

TEST_F(Text, sub_text_keeps_the_rest_of_the_line) {
    tft_text_line(2, 3, "BBBBBB", 0xFFFFFF, 0x000000);
    tft_sub_text_line(2, 3, 2, "AB", 1, 0xFF0000, 0x0000FF);
    const auto p = picture(2);
    expect_cells_text(p, 39, 0, "BB", WHITE, BLACK);
    expect_cells_text(p, 39, 16, "A", RED, 0x001F);
    expect_cells_text(p, 39, 24, "BBB", WHITE, BLACK);
}

TEST_F(Text, sub_text_of_no_characters_sends_no_pixels) {
    tft_sub_text_line(0, 0, 3, "AAA", 0, 0xFFFFFF, 0xFFFFFF);
    const auto lines = accesses();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "B 0A03 0 00000000"), lines.end());
    const auto p = picture(0);
    EXPECT_EQ(std::count(p.begin(), p.end(), BLACK), 128 * 128);
}

TEST_F(Text, screen_minus_1_draws_on_all_screens_with_one_burst) {
    tft_text_line(-1, 0, "AB", 0xFFFFFF, 0x000000);
    const auto lines = accesses();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l[0] == 'B'; }),
        1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return starts_with(l, "B 0A0F 1664 "); }),
              1);
    for (int screen = 0; screen < 3; ++screen)
        expect_cells_text(picture(screen), 0, 0, "AB", WHITE, BLACK);
}

TEST_F(Text, invalid_screen_id_is_refused_and_nothing_is_written) {
    EXPECT_EQ(printed([] { tft_text_line(3, 0, "A", 0, 0); }), "Invalid screen ID 3.\n");
    EXPECT_EQ(printed([] { tft_sub_text_line(-2, 0, 0, "A", 1, 0, 0); }),
              "Invalid screen ID -2.\n");
    EXPECT_TRUE(accesses().empty());
}

TEST_F(Text, missing_font_is_reported_and_the_previous_face_stays) {
    const std::string missing = test_data("no-such-font.pcf.gz");
    EXPECT_EQ(printed([&] { EXPECT_EQ(tft_load_font(missing.c_str()), -1); }),
              "Font file '" + missing + "' doesn't exist.\n");
    EXPECT_EQ(printed([] { tft_text_line(0, 0, "A", 0xFFFFFF, 0); }), "");
    expect_cells_text(picture(0), 0, 0, "A", WHITE, BLACK);
}

TEST_F(Text, stat_failure_other_than_a_missing_file_shows_errno) {
    const std::string path = test_data("cells.pcf") + "/inside";
    EXPECT_EQ(printed([&] { EXPECT_EQ(tft_load_font(path.c_str()), -1); }),
              "stat('" + path + "') returned error 20.\n");
}

TEST_F(Text, font_freetype_rejects_leaves_no_face) {
    EXPECT_EQ(printed([] { EXPECT_EQ(tft_load_font(test_data("not-a-font.pcf.gz").c_str()), -1); }),
              "Error calling FT_New_Face(): error = 2\n");
    accesses();
    EXPECT_EQ(printed([] { tft_text_line(0, 0, "A", 0xFFFFFF, 0); }),
              "Error generating line bitmap using FreeType.\n");
    // No cell to measure: no row window, no pixels, and the window is restored.
    EXPECT_EQ(accesses(),
              (controller_row(1, 0x21, 0) + std::vector<std::string>{"W 0A02 0000", "W 0A02 2200"} +
               full_window_rows()));
    EXPECT_EQ(tft_load_font(nullptr), -1);
}

// Faces as the Debian font packages install them: 75 and 100 dpi faces, whose first size FreeType
// does not match by its pixel size, and faces in KOI8-R and ISO 8859-2, for which FreeType
// selects no character map. Each loads without a word; where a reference is given, its line must
// show what the reference face shows for the same characters in its own encoding.
TEST_F(Text, installed_faces_load_quietly_and_draw_the_glyphs_of_their_encoding) {
    const struct {
        const char* font;
        int width;  // of the cell
        int rows;
        const char* text;
        const char* reference_font;
        const char* reference_text;
    } faces[] = {
        {"../75dpi/helvR12.pcf.gz", 7, 9, "", nullptr, ""},
        {"../100dpi/helvR12.pcf.gz", 10, 12, "", nullptr, ""},
        // Latin a, b, then Cyrillic a, be, ve: KOI8-R C1 C2 D7, ISO 8859-5 D0 D1 D2.
        {"8x13-KOI8-R.pcf.gz", 8, 13, "ab\xC1\xC2\xD7", "8x13-ISO8859-5.pcf.gz", "ab\xD0\xD1\xD2"},
        {"ter-u32b_koi8-r.pcf.gz", 16, 32, "ab\xC1\xC2\xD7", "ter-u32b_iso-8859-5.pcf.gz",
         "ab\xD0\xD1\xD2"},
        // a with ogonek, s with caron: ISO 8859-2 B1 B9, ISO 8859-13 E0 F0.
        {"6x13-ISO8859-2.pcf.gz", 6, 13, "ab\xB1\xB9", "6x13-ISO8859-13.pcf.gz", "ab\xE0\xF0"},
    };
    for (const auto& face : faces) {
        SCOPED_TRACE(face.font);
        int loaded = -1;
        EXPECT_EQ(printed([&] { loaded = tft_load_font(x11_font(face.font).c_str()); }), "");
        EXPECT_EQ(loaded, 0);
        int width = 0;
        int rows = 0;
        ASSERT_EQ(glyph_cell_size(&width, &rows), 0);
        EXPECT_EQ(width, face.width);
        EXPECT_EQ(rows, face.rows);
        if (!face.reference_font) {
            continue;
        }
        EXPECT_EQ(printed([&] { tft_text_line(0, 0, face.text, 0xFFFFFF, 0); }), "");
        ASSERT_EQ(tft_load_font(x11_font(face.reference_font).c_str()), 0);
        EXPECT_EQ(printed([&] { tft_text_line(1, 0, face.reference_text, 0xFFFFFF, 0); }), "");
        const panelsim::Picture drawn = picture(0);
        EXPECT_NE(std::count(drawn.begin(), drawn.end(), WHITE), 0);
        EXPECT_TRUE(drawn == picture(1));
    }
}

TEST_F(Text, null_text_is_a_rendering_failure) {
    EXPECT_EQ(printed([] { tft_text_line(0, 0, nullptr, 0, 0); }),
              "Error generating line bitmap using FreeType.\n");
    EXPECT_EQ(printed([] { tft_sub_text_line(0, 0, 0, nullptr, 2, 0, 0); }),
              "Error generating line bitmap using FreeType.\n");
    for (const std::string& line : accesses())
        EXPECT_NE(line[0], 'B') << line;
}

TEST_F(Text, glyph_rows_wider_than_one_word_are_refused) {
    ASSERT_EQ(tft_load_font(test_data("wide.pcf").c_str()), 0);
    EXPECT_EQ(printed([] { tft_text_line(0, 0, "A", 0xFFFFFF, 0); }),
              "Error generating line bitmap using FreeType.\n");
    for (const std::string& line : accesses())
        EXPECT_NE(line[0], 'B') << line;
}

TEST_F(Text, sub_text_wider_than_the_screen_is_clipped_to_128_pixels) {
    tft_sub_text_line(0, 0, 0, std::string(20, 'A').c_str(), 20, 0xFFFFFF, 0);
    const auto lines = accesses();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return starts_with(l, "B 0A03 1664 "); }),
              1);
    expect_cells_text(picture(0), 0, 0, std::string(16, 'A'), WHITE, BLACK);
}

TEST_F(Text, font_taller_than_the_screen_is_clipped_to_128_rows) {
    ASSERT_EQ(tft_load_font(test_data("tall.pcf").c_str()), 0);
    tft_text_line(0, 0, "AA", 0xFFFFFF, 0x000000);
    tft_sub_text_line(1, 0, 0, std::string(20, 'A').c_str(), 20, 0xFFFFFF, 0);
    const auto lines = accesses();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
              (controller_row(1, 0x45, 0x8001)));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return starts_with(l, "B 0A03 16384 "); }),
              1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return starts_with(l, "B 0A05 16384 "); }),
              1);
    const auto p = picture(0);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            ASSERT_EQ(pixel(p, x, y), x < 16 && x % 8 == y % 8 ? WHITE : BLACK) << x << "," << y;
        }
    }
}
