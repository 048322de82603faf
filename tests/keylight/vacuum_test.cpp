#include "vacuum.h"
#include "mappedregisterwindow.h"
#include "recordingregisterwindow.h"
#include "vacuumwriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using keylight::MappedRegisterWindow;
using keylight::RecordingRegisterWindow;
using keylight::Vacuum;
using keylight::VacuumWriter;
using Store = RecordingRegisterWindow::Store;

namespace {

constexpr std::uint32_t dataRegister = 0x8054;
constexpr std::size_t storesPerCharacter = 4;
constexpr std::size_t charactersPerFrame = 41;  // restart command and 40 characters
// Only keeps a broken build from hanging; nothing is asserted about time.
constexpr std::chrono::milliseconds guard(20000);

// What a display saw: its number and the characters clocked into it.
struct Written {
    int display;
    std::string characters;
    bool operator==(const Written& other) const {
        return display == other.display && characters == other.characters;
    }
};

void PrintTo(const Written& written, std::ostream* os) {
    *os << "display " << written.display << " \"" << written.characters << "\"";
}

// Reads the stores back as a display would: a character is latched by the falling strobe of
// exactly one display, with the other display's strobe idle throughout. Consecutive characters
// for the same display are joined. A store sequence of any other shape fails the test.
std::vector<Written> decode(const std::vector<Store>& stores) {
    std::vector<Written> result;
    EXPECT_EQ(stores.size() % storesPerCharacter, 0u);
    for (std::size_t i = 0; i + storesPerCharacter <= stores.size(); i += storesPerCharacter) {
        for (std::size_t k = 0; k < storesPerCharacter; ++k)
            EXPECT_EQ(stores[i + k].byteOffset, dataRegister);
        // The strobe that goes low in the second store names the display.
        const int display = (stores[i + 1].value & 0x00000100) == 0 ? 0 : 1;
        const std::uint32_t code =
            display == 0 ? stores[i].value & 0xFF : (stores[i].value >> 16) & 0xFF;
        const std::uint32_t data = display == 0 ? code : code << 16;
        const std::uint32_t low = display == 0 ? 0x01000000 : 0x00000100;
        EXPECT_EQ(stores[i].value, data | 0x01000100);
        EXPECT_EQ(stores[i + 1].value, data | low);
        EXPECT_EQ(stores[i + 2].value, data | low);
        EXPECT_EQ(stores[i + 3].value, data | 0x01000100);
        const char character = static_cast<char>(code);
        if (result.empty() || result.back().display != display)
            result.push_back({display, std::string()});
        result.back().characters += character;
    }
    return result;
}

std::string frame(const std::string& line1, const std::string& line2) {
    return "\v" + line1 + std::string(20 - line1.size(), ' ') + line2 +
           std::string(20 - line2.size(), ' ');
}

std::vector<Store> waitForFrames(const RecordingRegisterWindow& window, std::size_t frames) {
    EXPECT_TRUE(window.waitForStores(frames * charactersPerFrame * storesPerCharacter, guard));
    return window.stores();
}

TEST(VacuumWriterTest, presents_each_character_then_strobes_display_0_low_for_two_stores) {
    RecordingRegisterWindow window;
    VacuumWriter writer(&window);
    writer.text(0, "Az");
    EXPECT_EQ(window.stores(), (std::vector<Store>{
                                   {dataRegister, 0x01000141},
                                   {dataRegister, 0x01000041},
                                   {dataRegister, 0x01000041},
                                   {dataRegister, 0x01000141},
                                   {dataRegister, 0x0100017A},
                                   {dataRegister, 0x0100007A},
                                   {dataRegister, 0x0100007A},
                                   {dataRegister, 0x0100017A},
                               }));
}

TEST(VacuumWriterTest, drives_display_1_on_the_upper_half_for_any_index_with_low_bits_set) {
    RecordingRegisterWindow window;
    VacuumWriter writer(&window);
    writer.text(1, "A");
    EXPECT_EQ(window.stores(), (std::vector<Store>{
                                   {dataRegister, 0x01410100},
                                   {dataRegister, 0x00410100},
                                   {dataRegister, 0x00410100},
                                   {dataRegister, 0x01410100},
                               }));

    RecordingRegisterWindow others;
    VacuumWriter second(&others);
    second.text(0x101, "B");
    second.text(256, "C");
    second.text(-1, "D");
    EXPECT_EQ(decode(others.stores()), (std::vector<Written>{{1, "B"}, {0, "C"}, {1, "D"}}));
}

TEST(VacuumWriterTest, sends_latin1_codes_and_code_0_for_characters_beyond_latin1) {
    RecordingRegisterWindow window;
    VacuumWriter writer(&window);
    writer.text(0, QString(QChar(0x00E9)) + QChar(0x20AC) + QChar(0x00FF));
    const std::vector<Store> stores = window.stores();
    ASSERT_EQ(stores.size(), 12u);
    EXPECT_EQ(stores[0].value, 0x010001E9u);
    EXPECT_EQ(stores[4].value, 0x01000100u);
    EXPECT_EQ(stores[8].value, 0x010001FFu);
}

TEST(VacuumWriterTest, stores_into_the_data_register_word_of_a_mapped_window) {
    std::vector<std::uint32_t> registers(dataRegister / 4 + 2, 0);
    MappedRegisterWindow window(registers.data());
    VacuumWriter writer(&window);
    writer.text(1, "Q");
    EXPECT_EQ(registers[dataRegister / 4], 0x01510100u);
    registers[dataRegister / 4] = 0;
    EXPECT_EQ(registers, std::vector<std::uint32_t>(registers.size(), 0))
        << "no other word touched";
}

TEST(VacuumTest, shows_a_short_text_as_a_restart_and_a_frame_of_40_characters) {
    RecordingRegisterWindow window;
    Vacuum vacuum(nullptr, &window);
    vacuum.showText(0, "AB");
    EXPECT_EQ(decode(waitForFrames(window, 1)), (std::vector<Written>{{0, frame("AB", "")}}));
}

TEST(VacuumTest, cuts_lines_to_20_characters_and_ignores_a_third_line) {
    RecordingRegisterWindow window;
    Vacuum vacuum(nullptr, &window);
    vacuum.showText(1, "abcdefghijklmnopqrstuvwxy\nline two\nline three");
    EXPECT_EQ(decode(waitForFrames(window, 1)),
              (std::vector<Written>{{1, frame("abcdefghijklmnopqrst", "line two")}}));
}

TEST(VacuumTest, a_leading_line_feed_leaves_line_1_blank) {
    RecordingRegisterWindow window;
    Vacuum vacuum(nullptr, &window);
    vacuum.showText(0, "\nsecond");
    EXPECT_EQ(decode(waitForFrames(window, 1)), (std::vector<Written>{{0, frame("", "second")}}));
}

TEST(VacuumTest, a_repeated_frame_is_written_once_whichever_display_it_is_meant_for) {
    RecordingRegisterWindow window;
    Vacuum vacuum(nullptr, &window);
    vacuum.showText(0, "same");
    vacuum.showText(0, "same");
    vacuum.showText(1, "same");
    vacuum.showText(0, "same\n");
    vacuum.showText(1, "next");
    // The writer works through the texts in order, so anything written for the repeats
    // would come before the frame of "next".
    EXPECT_EQ(decode(waitForFrames(window, 2)),
              (std::vector<Written>{{0, frame("same", "")}, {1, frame("next", "")}}));
}

TEST(VacuumTest, changed_frames_follow_each_other_on_both_displays) {
    RecordingRegisterWindow window;
    Vacuum vacuum(nullptr, &window);
    vacuum.showText(0, "left");
    vacuum.showText(1, QString("price 5") + QChar(0x20AC));
    vacuum.showText(0, "left");
    EXPECT_EQ(decode(waitForFrames(window, 3)),
              (std::vector<Written>{{0, frame("left", "")},
                                    {1, frame(std::string("price 5") + '\0', "")},
                                    {0, frame("left", "")}}));
}

}  // namespace
