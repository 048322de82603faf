// The TFT controllers: index/data protocol, windows, write position, on/off and pictures.
#include "modeltest.h"

namespace panelsim {
namespace {

constexpr unsigned ALL = 7;

TEST_F(ModelTest, starts_with_screens_off_and_black) {
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{false, false, false}));
    for (int screen = 0; screen < SCREEN_COUNT; ++screen) {
        EXPECT_EQ(model.picture(screen), Picture{});
    }
}

TEST_F(ModelTest, turns_on_the_screens_of_the_mask_that_received_display_on) {
    tftRegister(2, 0x07, 0x0037);
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{false, true, false}));
    tftRegister(ALL, 0x07, 0x0036);
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{false, true, false}));
    tftRegister(ALL, 0x07, 0x0037);
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{true, true, true}));
}

TEST_F(ModelTest, needs_both_index_bytes_to_select_a_register) {
    // A lone 0x07 after an earlier 0x22 selects 0x2207, not the display control.
    writeHigh(0x0A02, 0x00);
    writeHigh(0x0A02, 0x22);
    writeHigh(0x0A02, 0x07);
    write(0x0A03, 0x0037);
    EXPECT_FALSE(model.state().screens_on[0]);
    EXPECT_EQ(model.picture(0), Picture{});
}

TEST_F(ModelTest, turns_screens_off_and_ignores_them_while_panel_control_holds_reset) {
    writeHigh(0x0800, 0x80);
    tftRegister(ALL, 0x07, 0x0037);
    writeHigh(0x0800, 0x00);
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{false, false, false}));
    tftRegister(ALL, 0x07, 0x0037);
    startPixels(ALL);
    write(0x0A0F, 0xFFFF);
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{false, false, false}));
    EXPECT_EQ(pixel(0, 0, 0), 0);
    writeHigh(0x0800, 0x80);
    tftRegister(ALL, 0x07, 0x0037);
    EXPECT_EQ(model.state().screens_on, (std::array<bool, 3>{true, true, true}));
}

TEST_F(ModelTest, fills_the_full_window_top_row_first_from_a_burst) {
    setWindow(1, 4, 131, 1, 128);
    startPixels(1);
    std::vector<uint16_t> words(SCREEN_PIXELS);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(i);
    ASSERT_EQ(burst(0x0A03, words), 0);
    const Picture picture = model.picture(0);
    EXPECT_TRUE(std::equal(words.begin(), words.end(), picture.begin()));
    EXPECT_EQ(model.picture(1), Picture{});
}

TEST_F(ModelTest, draws_single_data_words_as_pixels_while_memory_write_is_selected) {
    startPixels(4);
    write(0x0A09, 0xF800);
    write(0x0A09, 0x07E0);
    EXPECT_EQ(pixel(2, 0, 0), 0xF800);
    EXPECT_EQ(pixel(2, 1, 0), 0x07E0);
}

TEST_F(ModelTest, places_pixels_inside_a_window_and_wraps_to_its_top_left) {
    // Columns 24..25, rows 31..32: picture x 20..21, y 30..31.
    setWindow(ALL, 24, 25, 31, 32);
    startPixels(ALL);
    burst(0x0A0F, {1, 2, 3, 4, 5});
    for (int screen = 0; screen < SCREEN_COUNT; ++screen) {
        EXPECT_EQ(pixel(screen, 20, 30), 5);
        EXPECT_EQ(pixel(screen, 21, 30), 2);
        EXPECT_EQ(pixel(screen, 20, 31), 3);
        EXPECT_EQ(pixel(screen, 21, 31), 4);
        EXPECT_EQ(pixel(screen, 22, 30), 0);
    }
}

TEST_F(ModelTest, restarts_at_the_window_top_left_on_address_set) {
    setWindow(1, 4, 131, 1, 128);
    startPixels(1);
    burst(0x0A03, {7, 7, 7});
    startPixels(1);
    write(0x0A03, 9);
    EXPECT_EQ(pixel(0, 0, 0), 9);
    EXPECT_EQ(pixel(0, 1, 0), 7);
}

TEST_F(ModelTest, restarts_at_the_window_top_left_when_a_window_register_is_written) {
    startPixels(1);
    burst(0x0A03, {7, 7});
    tftRegister(1, 0x45, 0x0502);  // rows 2..5
    writeHigh(0x0A02, 0x00);
    writeHigh(0x0A02, 0x22);
    write(0x0A03, 9);
    EXPECT_EQ(pixel(0, 0, 1), 9);
}

TEST_F(ModelTest, drops_pixels_outside_the_visible_area) {
    // Columns 2..5 and rows 0..1: only columns 4..5 of row 1 are visible.
    setWindow(1, 2, 5, 0, 1);
    startPixels(1);
    burst(0x0A03, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(pixel(0, 0, 0), 7);
    EXPECT_EQ(pixel(0, 1, 0), 8);
    EXPECT_EQ(pixel(0, 2, 0), 0);
    EXPECT_EQ(pixel(0, 0, 1), 0);
    // Past the right and bottom edges: columns 130..133, rows 128..129.
    setWindow(1, 130, 133, 128, 129);
    startPixels(1);
    burst(0x0A03, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(pixel(0, 126, 127), 1);
    EXPECT_EQ(pixel(0, 127, 127), 2);
}

TEST_F(ModelTest, stores_data_words_as_register_values_when_memory_write_is_not_selected) {
    tftRegister(1, 0x44, 0x0504);
    burst(0x0A03, {0x1111, 0x2222});
    EXPECT_EQ(model.picture(0), Picture{});
}

TEST_F(ModelTest, reaches_no_controller_through_mask_zero) {
    startPixels(0);
    write(0x0A01, 0xFFFF);
    tftRegister(0, 0x07, 0x0037);
    for (int screen = 0; screen < SCREEN_COUNT; ++screen) {
        EXPECT_EQ(model.picture(screen), Picture{});
        EXPECT_FALSE(model.state().screens_on[screen]);
    }
}

TEST_F(ModelTest, returns_a_black_picture_for_a_screen_that_does_not_exist) {
    startPixels(ALL);
    write(0x0A0F, 0xFFFF);
    EXPECT_EQ(model.picture(3), Picture{});
    EXPECT_EQ(model.picture(-1), Picture{});
}

}  // namespace
}  // namespace panelsim
