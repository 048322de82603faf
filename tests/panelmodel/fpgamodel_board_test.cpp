// LEDs, toggle register, status inputs and panel control as the board shows them.
#include "modeltest.h"

namespace panelsim {
namespace {

TEST_F(ModelTest, switches_button_and_status_leds_by_kind_and_index) {
    writeHigh(0x0900, 0x40 | 0x20 | 3);
    writeHigh(0x0900, 0x80 | 0x20 | 31);
    writeHigh(0x0900, 0x80 | 0x20 | 0);
    writeHigh(0x0900, 0x80 | 0);
    BoardState state = model.state();
    EXPECT_TRUE(state.button_leds[3]);
    EXPECT_TRUE(state.status_leds[31]);
    EXPECT_FALSE(state.status_leds[0]);
    EXPECT_FALSE(state.status_leds[3]);
    writeHigh(0x0900, 0x40 | 3);
    EXPECT_FALSE(model.state().button_leds[3]);
}

TEST_F(ModelTest, ignores_led_commands_of_kinds_00_and_11) {
    writeHigh(0x0900, 0x00 | 0x20 | 5);
    writeHigh(0x0900, 0xC0 | 0x20 | 5);
    const BoardState state = model.state();
    EXPECT_FALSE(state.button_leds[5]);
    EXPECT_FALSE(state.status_leds[5]);
}

TEST_F(ModelTest, reads_back_the_toggle_register_and_shows_its_two_leds) {
    write(0x1003, 0x0001);
    EXPECT_EQ(model.state().toggle_leds, (std::array<bool, 2>{true, false}));
    write(0x1003, 0x0003);
    EXPECT_EQ(model.state().toggle_leds, (std::array<bool, 2>{true, true}));
    EXPECT_EQ(read(0x1003), 0x0003);
    write(0x1003, 0x0002);
    EXPECT_EQ(model.state().toggle_leds, (std::array<bool, 2>{false, true}));
}

TEST_F(ModelTest, reads_the_status_inputs_set_through_the_api_and_zero_elsewhere) {
    EXPECT_EQ(read(0x1000), 0);
    model.setStatusInputs(3);
    EXPECT_EQ(read(0x1000), 3);
    model.setStatusInputs(6);
    EXPECT_EQ(model.state().status_inputs, 2u);
    EXPECT_EQ(read(0x1000), 2);
    for (uint32_t address : {0x1002u, 0x1004u, 0x1005u, 0x1006u, 0x1007u, 0x0800u}) {
        EXPECT_EQ(read(address), 0) << std::hex << address;
    }
}

TEST_F(ModelTest, keeps_the_last_panel_control_byte_and_its_backlight_level) {
    EXPECT_FALSE(model.state().panel_control.has_value());
    EXPECT_FALSE(model.state().backlight_level.has_value());
    writeHigh(0x0800, 0x80);
    EXPECT_EQ(model.state().panel_control, 0x80);
    EXPECT_FALSE(model.state().backlight_level.has_value());
    writeHigh(0x0800, 0xC0 | 17);
    EXPECT_EQ(model.state().panel_control, 0xD1);
    EXPECT_EQ(model.state().backlight_level, 17);
    writeHigh(0x0800, 0xFF);
    EXPECT_EQ(model.state().backlight_level, 63);
    writeHigh(0x0800, 0x40);
    EXPECT_EQ(model.state().panel_control, 0x40);
    EXPECT_FALSE(model.state().backlight_level.has_value());
}

}  // namespace
}  // namespace panelsim
