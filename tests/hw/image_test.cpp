// BMP pictures, blanking and intensity. Pictures come from ImageMagick (24-bit BMP3 files of
// a known pattern); broken files are made from them by hand.
#include <algorithm>
#include <climits>
#include <cstring>

#include "panel_fixture.h"
#include "pixel_pattern.h"

namespace {

std::vector<uint8_t> pattern_bmp(int width, int height) {
    return file_bytes(
        test_data("pattern_" + std::to_string(width) + "x" + std::to_string(height) + ".bmp"));
}

void put32(std::vector<uint8_t>& bmp, size_t at, int32_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bmp[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t pixel(const panelsim::Picture& p, int x, int y) {
    return p[static_cast<size_t>(y * 128 + x)];
}

bool is_burst(const std::string& line) {
    return line[0] == 'B';
}

using Images = PanelTest;

}  // namespace

// Each broken file is refused by the decoder and by drawing, with one message, nothing sent.
class BrokenImages : public PanelTest {
protected:
    void expect_refused(const std::vector<uint8_t>& bmp, const std::string& message) {
        accesses();
        EXPECT_EQ(printed([&] { EXPECT_EQ(tft_draw_bmp(0, 0, 0, bmp.data(), bmp.size()), -1); }),
                  message);
        EXPECT_TRUE(accesses().empty());
        int width = 0;
        int height = 0;
        uint16_t* pixels = nullptr;
        EXPECT_EQ(printed([&] {
                      EXPECT_EQ(bmp_decode(bmp.data(), bmp.size(), &width, &height, &pixels), -1);
                  }),
                  message);
        EXPECT_EQ(pixels, nullptr);
        EXPECT_EQ(width, -1);
        EXPECT_EQ(height, -1);
    }
};

TEST(BmpDecode, converts_bgr_to_rgb565) {
    EXPECT_EQ(bgr_to_565(0x56, 0x34, 0x12), 0x11AA);
    EXPECT_EQ(bgr_to_565(0xFF, 0xFF, 0xFF), 0xFFFF);
    EXPECT_EQ(bgr_to_565(0x00, 0x00, 0xFF), 0xF800);
}

TEST(BmpDecode, rows_come_out_top_first_whatever_the_row_padding) {
    for (int width = 1; width <= 5; ++width) {
        const int height = width == 5 ? 2 : 3;
        const std::vector<uint8_t> bmp = pattern_bmp(width, height);
        ASSERT_FALSE(bmp.empty()) << width;
        // 3 * width bytes of pixels, then (width AND 3) padding bytes per row.
        EXPECT_EQ(bmp.size(), 54u + static_cast<size_t>(height * (3 * width + (width & 3))))
            << width;
        int w = 0;
        int h = 0;
        uint16_t* pixels = nullptr;
        ASSERT_EQ(bmp_decode(bmp.data(), bmp.size(), &w, &h, &pixels), 0);
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                EXPECT_EQ(pixels[y * width + x], pattern_565(x, y))
                    << width << ": " << x << "," << y;
            }
        }
        free(pixels);
    }
}

TEST(BmpDecode, header_check_copies_the_54_header_bytes) {
    const std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    uint8_t header[54] = {};
    EXPECT_EQ(bmp_header_check(bmp.data(), bmp.size(), header), 0);
    EXPECT_EQ(std::memcmp(header, bmp.data(), 54), 0);
    EXPECT_EQ(bmp_header_check(bmp.data(), bmp.size(), nullptr), 0);
}

TEST(BmpDecode, null_outputs_are_refused) {
    const std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    int w = 0;
    uint16_t* pixels = nullptr;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(bmp_decode(bmp.data(), bmp.size(), &w, nullptr, &pixels), -1);
    EXPECT_EQ(bmp_decode(nullptr, 0, &w, &w, &pixels), -1);
    fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "One of the output pointers is NULL!\nBMP Data pointer is NULL! Exiting.\n");
}

TEST_F(Images, full_screen_picture_at_the_origin_fills_the_screen) {
    const std::vector<uint8_t> bmp = pattern_bmp(128, 128);
    ASSERT_EQ(tft_draw_bmp(0, 0, 0, bmp.data(), bmp.size()), 0);
    const auto lines = accesses();
    ASSERT_EQ(lines.size(), 3u * 3 + 2 + 1 + 6);
    EXPECT_EQ(
        std::vector<std::string>(lines.begin(), lines.begin() + 11),
        (controller_row(1, 0x45, 0x8001) + controller_row(1, 0x44, 0x8304) +
         controller_row(1, 0x21, 0) + std::vector<std::string>{"W 0A02 0000", "W 0A02 2200"}));
    EXPECT_EQ(lines[11].substr(0, 12), "B 0A03 16384");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 12, lines.end()), full_window_rows());
    const auto p = picture(0);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x)
            ASSERT_EQ(pixel(p, x, y), pattern_565(x, y)) << x << "," << y;
    }
}

TEST_F(Images, small_picture_lands_at_its_position_first_stored_row_at_the_bottom) {
    const std::vector<uint8_t> bmp = pattern_bmp(10, 10);
    ASSERT_EQ(tft_draw_bmp(2, 20, 30, bmp.data(), bmp.size()), 0);
    const auto lines = accesses();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (controller_row(4, 0x45, 0x281F) + controller_row(4, 0x44, 0x2118)));
    const auto p = picture(2);
    // The file stores pattern row 9 first; it is the bottom row on the screen.
    const uint8_t* first_stored = bmp.data() + 54;
    EXPECT_EQ(pixel(p, 20, 39), bgr_to_565(first_stored[0], first_stored[1], first_stored[2]));
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            const bool inside = x >= 20 && x < 30 && y >= 30 && y < 40;
            ASSERT_EQ(pixel(p, x, y), inside ? pattern_565(x - 20, y - 30) : 0) << x << "," << y;
        }
    }
    EXPECT_EQ(picture(0), panelsim::Picture{});
}

TEST_F(Images, all_screens_get_one_burst) {
    const std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    ASSERT_EQ(tft_draw_bmp(-1, 0, 0, bmp.data(), bmp.size()), 0);
    const auto lines = accesses();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), is_burst), 1);
    EXPECT_EQ(std::find_if(lines.begin(), lines.end(), is_burst)->substr(0, 9), "B 0A0F 12");
    EXPECT_EQ(picture(0), picture(2));
}

TEST_F(Images, picture_past_the_edges_is_sent_whole_with_a_clamped_window) {
    const std::vector<uint8_t> bmp = pattern_bmp(10, 10);
    ASSERT_EQ(tft_draw_bmp(0, 125, 124, bmp.data(), bmp.size()), 0);
    const auto lines = accesses();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (controller_row(1, 0x45, 0x807D) + controller_row(1, 0x44, 0x8381)));
    EXPECT_EQ(std::find_if(lines.begin(), lines.end(), is_burst)->substr(0, 10), "B 0A03 100");
}

TEST_F(Images, window_of_a_position_far_past_the_screen_keeps_the_low_byte_of_the_bound) {
    const std::vector<uint8_t> bmp = pattern_bmp(10, 10);
    ASSERT_EQ(tft_draw_bmp(0, INT_MAX, INT_MAX, bmp.data(), bmp.size()), 0);
    const auto lines = accesses();
    ASSERT_GE(lines.size(), 6u);
    // First row 2^31 ends in 0x00 and first column 2^31 + 3 in 0x03; the last row and column
    // are clamped at 128 and 131.
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (controller_row(1, 0x45, 0x8000) + controller_row(1, 0x44, 0x8303)));
}

TEST_F(Images, invalid_screen_and_null_data_are_refused) {
    const std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    EXPECT_EQ(printed([&] { EXPECT_EQ(tft_draw_bmp(5, 0, 0, bmp.data(), bmp.size()), -1); }),
              "Invalid screen ID 5.\n");
    EXPECT_EQ(printed([] { EXPECT_EQ(tft_draw_bmp(0, 0, 0, nullptr, 0), -1); }),
              "Input parameter 'data' pointer is NULL.");
    EXPECT_TRUE(accesses().empty());
}

TEST_F(BrokenImages, signature_must_be_BM) {
    std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    bmp[1] = 'N';
    expect_refused(bmp, "Invalid BMP Signature ('B', 'N')!  Exiting.\n");
    bmp[0] = 'C';
    bmp[1] = 'M';
    expect_refused(bmp, "Invalid BMP Signature ('C', 'M')!  Exiting.\n");
}

TEST_F(BrokenImages, information_header_must_be_40_bytes) {
    // A V4 header: 108 bytes, the pixels after it.
    std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    bmp.insert(bmp.begin() + 54, 68, 0);
    put32(bmp, 14, 108);
    put32(bmp, 10, 54 + 68);
    expect_refused(bmp, "DIB Header Size is invalid. Exiting.\n");
}

TEST_F(BrokenImages, colour_planes_must_be_1) {
    std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    bmp[26] = 2;
    expect_refused(bmp, "\tInvalid number of colour planes! Exiting.\n");
}

TEST_F(BrokenImages, palette_pictures_are_not_supported) {
    const std::vector<uint8_t> bmp = file_bytes(test_data("palette.bmp"));
    ASSERT_GT(bmp.size(), 54u);
    ASSERT_EQ(bmp[28], 8);
    expect_refused(bmp, "Only 24-bit depth BMP's are supported at this time.\n");
}

TEST_F(BrokenImages, data_shorter_than_the_headers) {
    const std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    expect_refused(std::vector<uint8_t>(bmp.begin(), bmp.begin() + 53),
                   "BMP data of 53 bytes is shorter than its 54-byte header. Exiting.\n");
    expect_refused({'B'}, "BMP data of 1 bytes is shorter than its 54-byte header. Exiting.\n");
}

TEST_F(BrokenImages, pixel_rows_that_do_not_fit_the_data) {
    std::vector<uint8_t> bmp = pattern_bmp(10, 10);
    bmp.resize(bmp.size() - 3);
    // The last row's padding (2 bytes) may be missing; one pixel byte may not.
    expect_refused(bmp, "BMP pixel rows need 372 bytes but the data has 371. Exiting.\n");
    std::vector<uint8_t> tall = pattern_bmp(4, 3);
    put32(tall, 22, 100);
    expect_refused(tall, "BMP pixel rows need 1254 bytes but the data has 90. Exiting.\n");
}

TEST_F(BrokenImages, last_row_padding_may_be_missing) {
    std::vector<uint8_t> bmp = pattern_bmp(10, 10);
    bmp.resize(bmp.size() - 2);
    EXPECT_EQ(tft_draw_bmp(0, 0, 0, bmp.data(), bmp.size()), 0);
}

TEST_F(BrokenImages, pixel_data_offset_outside_the_data) {
    std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    put32(bmp, 10, 1000);
    expect_refused(bmp, "BMP pixel data offset 1000 lies outside the 90 bytes of data. Exiting.\n");
    put32(bmp, 10, -1);
    expect_refused(
        bmp, "BMP pixel data offset 4294967295 lies outside the 90 bytes of data. Exiting.\n");
}

TEST_F(BrokenImages, top_down_pictures_are_not_supported) {
    std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    put32(bmp, 22, -3);
    expect_refused(bmp, "Top-down BMP's (negative height) are not supported. Exiting.\n");
}

TEST_F(BrokenImages, width_below_1) {
    std::vector<uint8_t> bmp = pattern_bmp(4, 3);
    put32(bmp, 18, 0);
    expect_refused(bmp, "BMP width 0 is not supported: it must be at least 1. Exiting.\n");
    put32(bmp, 18, -4);
    expect_refused(bmp, "BMP width -4 is not supported: it must be at least 1. Exiting.\n");
}

TEST_F(BrokenImages, more_pixels_than_one_burst_carries) {
    std::vector<uint8_t> bmp = pattern_bmp(128, 128);
    put32(bmp, 18, 256);
    put32(bmp, 22, 256);
    expect_refused(bmp,
                   "BMP of 256 x 256 pixels is larger than the 65535 pixels of one transfer. "
                   "Exiting.\n");
    put32(bmp, 18, 0x10000);
    put32(bmp, 22, 0x10000);
    expect_refused(bmp,
                   "BMP of 65536 x 65536 pixels is larger than the 65535 pixels of one transfer. "
                   "Exiting.\n");
}

TEST_F(Images, blackout_fills_the_screens_with_black_in_one_burst) {
    const std::vector<uint8_t> bmp = pattern_bmp(128, 128);
    tft_draw_bmp(-1, 0, 0, bmp.data(), bmp.size());
    accesses();
    tft_blackout(-1);
    const auto lines = accesses();
    ASSERT_EQ(lines.size(), 6u + 3 + 2 + 1);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 11),
              (full_window_rows() + controller_row(7, 0x21, 0) +
               std::vector<std::string>{"W 0A0E 0000", "W 0A0E 2200"}));
    EXPECT_EQ(lines[11].substr(0, 12), "B 0A0F 16384");
    for (int s = 0; s < 3; ++s)
        EXPECT_EQ(picture(s), panelsim::Picture{}) << s;
    EXPECT_EQ(printed([] { tft_blackout(3); }), "Invalid screen ID 3.\n");
    EXPECT_TRUE(accesses().empty());
}

TEST_F(Images, intensity_percent_sets_the_backlight_level) {
    EXPECT_EQ(tft_intensity(0), 0);
    EXPECT_EQ(tft_intensity(1), 0);
    EXPECT_EQ(tft_intensity(2), 0);
    EXPECT_EQ(tft_intensity(50), 0);
    EXPECT_EQ(tft_intensity(100), 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"W 0800 C000", "W 0800 C000", "W 0800 C100",
                                                    "W 0800 DF00", "W 0800 FF00"}));
    EXPECT_EQ(state().backlight_level, 63);
}

TEST_F(Images, intensity_out_of_range_changes_nothing) {
    const std::string message = "TFT Intensity is out of range: Must be between 0 and 100 %.\n";
    EXPECT_EQ(printed([] { EXPECT_EQ(tft_intensity(101), -1); }), message);
    EXPECT_EQ(printed([] { EXPECT_EQ(tft_intensity(-1), -1); }), message);
    EXPECT_TRUE(accesses().empty());
}
