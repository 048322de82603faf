// LED commands, the toggle shadow and the status inputs as the FPGA sees them.
#include "panel_fixture.h"

using Leds = PanelTest;

TEST_F(Leds, button_led_command_carries_kind_on_bit_and_index) {
    EXPECT_EQ(led_button_state(3, 1), 0);
    led_button_state(3, 0);
    led_button_state(31, -1);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"W 0900 6300", "W 0900 4300", "W 0900 5F00"}));
    EXPECT_TRUE(state().button_leds[31] == false);
}

TEST_F(Leds, status_indicator_command_uses_the_status_kind) {
    led_status_indicator(3, 1);
    led_status_indicator(3, 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"W 0900 A300", "W 0900 8300"}));
    led_status_indicator(7, 1);
    EXPECT_TRUE(state().status_leds[7]);
    EXPECT_FALSE(state().status_leds[3]);
}

TEST_F(Leds, button_led_lights_on_the_board) {
    led_button_state(5, 1);
    EXPECT_TRUE(state().button_leds[5]);
    EXPECT_FALSE(state().status_leds[5]);
}

TEST_F(Leds, refuses_led_index_outside_0_to_31_and_writes_nothing) {
    EXPECT_EQ(printed([] { EXPECT_EQ(led_button_state(32, 1), 1); }), "Invalid LED index 32.\n");
    EXPECT_EQ(printed([] { EXPECT_EQ(led_status_indicator(40, 1), 1); }),
              "Invalid LED index 40.\n");
    EXPECT_EQ(printed([] { EXPECT_EQ(led_status_indicator(-1, 0), 1); }),
              "Invalid LED index -1.\n");
    EXPECT_TRUE(accesses().empty());
    EXPECT_EQ(state().status_leds, (std::array<bool, 32>{}));
}

TEST_F(Leds, toggle_indicators_are_written_whole_from_the_shadow) {
    EXPECT_EQ(led_toggle_indicator(0, 1), 0);
    EXPECT_EQ(led_toggle_indicator(1, 1), 0);
    EXPECT_EQ(led_toggle_indicator(0, 0), 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"R 1003 0000", "W 1003 0001", "W 1003 0003",
                                                    "W 1003 0002"}));
    EXPECT_EQ(state().toggle_leds, (std::array<bool, 2>{false, true}));
    EXPECT_EQ(led_toggle_indicators_get(), 2);
}

// keylight restarted: the indicator the last run lit stays lit when the new run sets the other.
TEST_F(Leds, toggle_shadow_starts_from_what_the_register_holds_once_the_device_is_opened) {
    led_toggle_indicator(1, 1);
    toggle_shadow = 0;
    panel_open();
    accesses();
    EXPECT_EQ(led_toggle_indicator(0, 1), 0);
    EXPECT_EQ(led_toggle_indicator(1, 0), 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"R 1003 0002", "W 1003 0003", "W 1003 0001"}));
    EXPECT_EQ(state().toggle_leds, (std::array<bool, 2>{true, false}));
}

TEST_F(Leds, toggle_indicator_refuses_index_above_1_and_states_other_than_0_or_1) {
    led_toggle_indicator(1, 1);
    accesses();
    EXPECT_EQ(led_toggle_indicator(2, 1), 1);
    EXPECT_EQ(led_toggle_indicator(-1, 1), 1);
    EXPECT_EQ(led_toggle_indicator(0, 2), 2);
    EXPECT_EQ(led_toggle_indicator(0, -1), 2);
    EXPECT_TRUE(accesses().empty());
    EXPECT_EQ(toggle_shadow, 2);
}

TEST_F(Leds, status_bits_are_the_two_low_bits_of_the_status_register) {
    model().setStatusInputs(3);
    EXPECT_EQ(status_bits_get(), 3);
    model().setStatusInputs(1);
    EXPECT_EQ(status_bits_get(), 1);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"R 1000 0003", "R 1000 0001"}));
}

TEST_F(Leds, status_byte_reads_the_status_then_its_source) {
    uint8_t byte = 0xAA;
    EXPECT_EQ(status_byte_get(&byte), 0);
    EXPECT_EQ(byte, 0);
    const auto reads = accesses();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].substr(0, 6), "R 1000");
    EXPECT_EQ(reads[1].substr(0, 6), "R 1002");
}

TEST_F(Leds, id_words_read_their_halves_high_first) {
    uint32_t a = 1;
    uint32_t b = 1;
    EXPECT_EQ(id_words_get(&a, &b), 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"R 1004 0000", "R 1005 0000", "R 1006 0000",
                                                    "R 1007 0000"}));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 0u);
}

TEST_F(Leds, null_outputs_are_refused_without_touching_the_device) {
    uint32_t a = 0;
    EXPECT_EQ(status_byte_get(nullptr), -1);
    EXPECT_EQ(id_words_get(&a, nullptr), -1);
    EXPECT_EQ(id_words_get(nullptr, &a), -1);
    EXPECT_TRUE(accesses().empty());
}
