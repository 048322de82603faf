// The button table that start-up builds, and the way a button reaches its LED.
#include <gtest/gtest.h>

#include <vector>

#include "buttontesserax.h"
#include "panelmapbuilder.h"
#include "server_harness.h"

namespace {

using keylight::ButtonMap;
using keylight::PanelMapBuilder;
using servertest::Panel;
using servertest::StdoutCapture;

TEST(PanelMap, holds_buttons_0_to_23_in_ascending_order_all_enabled) {
    Panel panel;
    ButtonMap map;
    const keylight::OwnedButtons buttons = PanelMapBuilder().buildMap(map, panel.fpga.get());

    std::vector<int> ids;
    for (const auto& [id, button] : map) {
        EXPECT_EQ(button->id(), id);
        EXPECT_TRUE(button->isEnabled());
        ids.push_back(id);
    }
    std::vector<int> expected;
    for (int id = 0; id < 24; ++id) {
        expected.push_back(id);
    }
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(map.count(24), 0u);
    EXPECT_EQ(map.count(-1), 0u);
}

TEST(PanelMap, building_into_a_filled_map_replaces_its_entries) {
    Panel panel;
    keylight::Button_TesseraX stray(30, panel.fpga.get());
    ButtonMap map{{30, &stray}, {-4, &stray}};
    const keylight::OwnedButtons buttons = PanelMapBuilder().buildMap(map, panel.fpga.get());

    EXPECT_EQ(map.size(), 24u);
    EXPECT_EQ(map.begin()->first, 0);
    EXPECT_EQ(map.rbegin()->first, 23);
}

TEST(PanelMap, unknown_panel_type_prints_its_error_without_line_end_and_keeps_the_map) {
    Panel panel;
    keylight::Button_TesseraX kept(7, panel.fpga.get());
    ButtonMap map{{7, &kept}};
    StdoutCapture out;
    const keylight::OwnedButtons none = PanelMapBuilder(6).buildMap(map, panel.fpga.get());

    EXPECT_EQ(out.finish(), "Error: Panel type is invalid - should be Mosaic/Lattice/Tessera");
    EXPECT_TRUE(none.empty());
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.at(7), &kept);
}

TEST(PanelMap, a_taken_id_keeps_its_first_button) {
    Panel panel;
    keylight::Button_TesseraX first(3, panel.fpga.get());
    keylight::Button_TesseraX second(3, panel.fpga.get());
    ButtonMap map;
    PanelMapBuilder builder;
    StdoutCapture same;
    builder.addButton(map, 3, &first);
    builder.addButton(map, 3, &first);
    EXPECT_EQ(same.finish(), "");
    StdoutCapture other;
    builder.addButton(map, 3, &second);
    EXPECT_EQ(other.finish(), "error: overwriting exiting button, id = 3\n");
    EXPECT_EQ(map.at(3), &first);
}

TEST(PanelMap, a_button_sets_its_led_through_the_worker) {
    Panel panel;
    keylight::Button_TesseraX button(3, panel.fpga.get());
    button.refresh();
    button.setLEDState(1);
    panel.drain();
    EXPECT_TRUE(panel.model.state().button_leds[3]);
    EXPECT_EQ(panel.takeButtonLedWrites(), std::vector<std::string>{"L3"});

    button.setLEDState(7);
    panel.drain();
    EXPECT_FALSE(panel.model.state().button_leds[3]);
    EXPECT_EQ(panel.takeButtonLedWrites(), std::vector<std::string>{"D3"});
}

}  // namespace
