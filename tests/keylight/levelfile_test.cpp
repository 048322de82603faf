// The brightness level file, read from a real file; the screen level reaches the board as the
// intensity register 0x0800 (high byte 0xC0 | percent * 63 / 100).
#include <gtest/gtest.h>

#include <QFile>

#include <climits>
#include <memory>
#include <string>

#include "fpga.h"
#include "fpga_support.h"
#include "levelfile.h"

using fpgatest::Board;
using fpgatest::Record;
using fpgatest::Tree;

namespace {

class LevelFileTest : public ::testing::Test {
protected:
    LevelFileTest() : levelFile(tree.levelPath()) { tree.saveFont(8, 13); }

    // Reads the file with the FPGA object set, waits until every posted task has run, and
    // returns what was printed.
    std::string readPosting() {
        if (!fpga) {
            fpga = std::make_unique<keylight::FPGA>(tree.settingsPath(), tree.fontDir());
        }
        testing::internal::CaptureStdout();
        levelFile.read(levels, fpga.get());
        fpga->setLEDStatusIndicator(31, 1);
        const bool done = Record::instance().waitFor("trace: W 0900 BF00");
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(done);
        return printed;
    }

    std::vector<std::string> intensityWrites() const {
        std::vector<std::string> writes;
        for (const std::string& line : Record::instance().lines()) {
            if (line.compare(0, 14, "trace: W 0800 ") == 0)
                writes.push_back(line.substr(14));
        }
        return writes;
    }

    Tree tree;
    Board board;
    keylight::LevelFile levelFile;
    keylight::ButtonLevels levels;
    std::unique_ptr<keylight::FPGA> fpga;
};

}  // namespace

TEST_F(LevelFileTest, sets_the_levels_of_the_file_and_posts_the_screen_level) {
    tree.writeLevels("lcd 80\nscr 60\n");
    EXPECT_EQ(readPosting(), "keylight:reconfig \n");
    EXPECT_EQ(levels.led, 100);
    EXPECT_EQ(levels.lcd, 80);
    EXPECT_EQ(levels.screen, 60);
    EXPECT_EQ(intensityWrites(), std::vector<std::string>{"E500"});  // level 37
}

TEST_F(LevelFileTest, stores_without_posting_while_no_fpga_is_set) {
    tree.writeLevels("led 10\nlcd 20\nscr 30\n");
    testing::internal::CaptureStdout();
    levelFile.read(levels, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "keylight:reconfig \n");
    EXPECT_EQ(levels.led, 10);
    EXPECT_EQ(levels.lcd, 20);
    EXPECT_EQ(levels.screen, 30);
    EXPECT_TRUE(Record::instance().lines().empty());
}

TEST_F(LevelFileTest, posts_one_intensity_per_scr_line_in_file_order) {
    tree.writeLevels("scr 0\n\n   \nscr\nscr 100 percent\nscr 150\n");
    const std::string printed = readPosting();
    EXPECT_EQ(levels.screen, 150);
    // A line without a number posts the level held before; 150 is refused by the library.
    EXPECT_EQ(intensityWrites(), (std::vector<std::string>{"C000", "C000", "FF00"}));
    EXPECT_NE(printed.find("TFT Intensity is out of range: Must be between 0 and 100 %.\n"),
              std::string::npos)
        << printed;
}

TEST_F(LevelFileTest, reports_unknown_keys_and_goes_on) {
    tree.writeLevels("brightness 5\nled 7\n");
    EXPECT_EQ(readPosting(), "keylight:reconfig \nkeylight:unknown type brightness\n");
    EXPECT_EQ(levels.led, 7);
    EXPECT_TRUE(intensityWrites().empty());
}

TEST_F(LevelFileTest, takes_a_long_line_in_pieces_of_255_characters) {
    // The second piece of the first line starts with "scr 40".
    tree.writeLevels("lcd 5" + std::string(250, ' ') + "scr 40\nled 1\n");
    EXPECT_EQ(readPosting(), "keylight:reconfig \n");
    EXPECT_EQ(levels.lcd, 5);
    EXPECT_EQ(levels.screen, 40);
    EXPECT_EQ(levels.led, 1);
    EXPECT_EQ(intensityWrites(), std::vector<std::string>{"D900"});  // level 25
}

TEST_F(LevelFileTest, a_deleted_file_keeps_the_levels_of_the_last_read) {
    tree.writeLevels("lcd 80\nscr 60\n");
    readPosting();
    ASSERT_TRUE(QFile::remove(tree.levelPath()));
    Record::instance().clear();
    EXPECT_EQ(readPosting(), "keylight:reconfig \n");
    EXPECT_EQ(levels.lcd, 80);
    EXPECT_EQ(levels.screen, 60);
    EXPECT_TRUE(intensityWrites().empty());
}

TEST_F(LevelFileTest, numbers_beyond_32_bits_become_the_nearest_int_on_every_architecture) {
    // Cut to 32 bits, 4294967356 would be 60 and -4294967296 would be 0.
    tree.writeLevels("scr 4294967356\nlcd -4294967296\n");
    const std::string printed = readPosting();
    EXPECT_EQ(levels.screen, INT_MAX);
    EXPECT_EQ(levels.lcd, INT_MIN);
    EXPECT_TRUE(intensityWrites().empty());
    EXPECT_NE(printed.find("TFT Intensity is out of range"), std::string::npos) << printed;
}
