// The TFT font follows group "font" of the launcher settings, saved the way the launcher saves
// them, with the real X11 misc-fixed fonts. Which font is current shows in the row window of
// text line 1: rows 14..27 (0x1B0E) for 8 x 13, rows 17..33 (0x2111) for 8 x 16.
#include <gtest/gtest.h>

#include <QFile>

#include <memory>
#include <string>

#include "fpga.h"
#include "fpga_support.h"

using fpgatest::Board;
using fpgatest::quoted;
using fpgatest::Record;
using fpgatest::Tree;

namespace {

constexpr char ROWS_8X13[] = "trace: W 0A03 1B0E";
constexpr char ROWS_8X16[] = "trace: W 0A03 2111";

class FontSettings : public ::testing::Test {
protected:
    void start() { fpga = std::make_unique<keylight::FPGA>(tree.settingsPath(), tree.fontDir()); }

    std::string changeLine() const {
        return "File change in " + quoted(tree.settingsPath().toStdString()) + "  occurred.";
    }
    std::string loadingLine(int width, int height) const {
        return "keylight: Loading font ' " + quoted(tree.fontPath(width, height)) +
               " ' from configuration file.";
    }
    std::string loadedLine(int width, int height) const {
        return "keylight: Successfully changed to font " + quoted(tree.fontPath(width, height));
    }
    std::string failedLine(int width, int height) const {
        return "Error loading font ' " + quoted(tree.fontPath(width, height)) +
               " ' from configuration file.";
    }

    // Draws text line 1 on screen 0 and waits until it has gone out; true when it was drawn
    // with the rows of the font expected.
    bool lineDrawnWith(const char* rows) {
        Record::instance().clear();
        fpga->textLine(0, 1, "A", false);
        fpga->setLEDStatusIndicator(31, 1);
        return Record::instance().waitFor("trace: W 0900 BF00") &&
               Record::instance().find(rows) >= 0;
    }

    // Saves the settings and keeps the event loop running until the change was handled.
    bool saveAndWait(int width, int height, const std::string& expected) {
        Record::instance().clear();
        tree.saveFont(width, height);
        return Record::instance().waitFor(expected, true);
    }

    Tree tree;
    Board board;
    std::unique_ptr<keylight::FPGA> fpga;
};

}  // namespace

TEST_F(FontSettings, loads_the_configured_font_once_at_start_up) {
    tree.saveFont(8, 13);
    start();
    const std::vector<std::string> expected = {
        changeLine(), loadingLine(8, 13), loadedLine(8, 13),
        "Files being watched: (" + quoted(tree.settingsPath().toStdString()) + ")"};
    const std::vector<std::string> lines = Record::instance().lines();
    ASSERT_GE(lines.size(), expected.size());
    int at = 0;
    for (const std::string& line : expected) {
        at = Record::instance().find(line, at);
        EXPECT_GE(at, 0) << line;
    }
    EXPECT_TRUE(lineDrawnWith(ROWS_8X13));
}

TEST_F(FontSettings, a_settings_file_without_font_group_loads_nothing) {
    {
        QFile file(tree.settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[psu]\nredundant=1\n");
    }
    start();
    EXPECT_GE(Record::instance().find(changeLine()), 0);
    EXPECT_LT(Record::instance().findPrefix("keylight: Loading font"), 0);
}

TEST_F(FontSettings, every_change_of_the_height_loads_the_other_font) {
    tree.saveFont(8, 13);
    start();
    // Each save replaces the file; the second and third changes are only seen when the
    // watch follows the new file.
    ASSERT_TRUE(saveAndWait(8, 16, loadedLine(8, 16)));
    EXPECT_TRUE(lineDrawnWith(ROWS_8X16));
    ASSERT_TRUE(saveAndWait(8, 13, loadedLine(8, 13)));
    EXPECT_TRUE(lineDrawnWith(ROWS_8X13));
    ASSERT_TRUE(saveAndWait(8, 16, loadedLine(8, 16)));
    EXPECT_TRUE(lineDrawnWith(ROWS_8X16));
}

TEST_F(FontSettings, an_unchanged_save_reloads_nothing) {
    tree.saveFont(8, 13);
    start();
    ASSERT_TRUE(saveAndWait(8, 13, changeLine()));
    ASSERT_TRUE(saveAndWait(8, 13, changeLine()));
    EXPECT_LT(Record::instance().findPrefix("keylight: Loading font"), 0);
    EXPECT_TRUE(lineDrawnWith(ROWS_8X13));
}

TEST_F(FontSettings, a_missing_font_file_keeps_the_previous_face_and_is_not_retried) {
    tree.saveFont(8, 13);
    start();
    testing::internal::CaptureStdout();
    const bool handled = saveAndWait(8, 99, failedLine(8, 99));
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(handled);
    EXPECT_NE(printed.find("Font file '" + tree.fontPath(8, 99) + "' doesn't exist.\n"),
              std::string::npos)
        << printed;
    const int loading = Record::instance().find(loadingLine(8, 99));
    EXPECT_GE(loading, 0);
    EXPECT_LT(loading, Record::instance().find(failedLine(8, 99)));
    EXPECT_TRUE(lineDrawnWith(ROWS_8X13));

    ASSERT_TRUE(saveAndWait(8, 99, changeLine()));
    EXPECT_LT(Record::instance().findPrefix("keylight: Loading font"), 0);
}

TEST_F(FontSettings, a_settings_file_deleted_and_written_again_is_followed) {
    tree.saveFont(8, 13);
    start();
    Record::instance().clear();
    ASSERT_TRUE(QFile::remove(tree.settingsPath()));
    ASSERT_TRUE(Record::instance().waitFor(changeLine(), true));
    ASSERT_TRUE(saveAndWait(8, 16, loadedLine(8, 16)));
    EXPECT_TRUE(lineDrawnWith(ROWS_8X16));
    ASSERT_TRUE(saveAndWait(8, 13, loadedLine(8, 13)));
}

TEST_F(FontSettings, an_unreadable_settings_file_changes_nothing) {
    tree.saveFont(8, 13);
    start();
    Record::instance().clear();
    // QSettings refuses a file it cannot parse as INI.
    {
        QFile file(tree.settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[font\nwidth=8\nheight=16\n");
    }
    ASSERT_TRUE(Record::instance().waitFor(
        "Error accessing ' " + quoted(tree.settingsPath().toStdString()) + " ' for reading", true));
    EXPECT_LT(Record::instance().findPrefix("keylight: Loading font"), 0);
    EXPECT_TRUE(lineDrawnWith(ROWS_8X13));
}
