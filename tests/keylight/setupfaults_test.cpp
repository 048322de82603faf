// A device that is set up wrong leaves one line in the log that names the file and says what to
// do, and keylight goes on: a missing or unreadable settings or level file, a font size without
// a font file, a register device that is missing or not granted to keylight's group.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cerrno>
#include <memory>
#include <string>

#include "fpga.h"
#include "fpga_device.h"
#include "fpga_support.h"
#include "levelfile.h"
#include "panel.h"

using fpgatest::Board;
using fpgatest::Record;
using fpgatest::Tree;

namespace {

// How many recorded lines start with prefix.
int countPrefix(const std::string& prefix) {
    int count = 0;
    for (int at = Record::instance().findPrefix(prefix); at >= 0;
         at = Record::instance().findPrefix(prefix, at + 1)) {
        ++count;
    }
    return count;
}

class FileFaults : public ::testing::Test {
protected:
    FileFaults() { Record::instance().clear(); }

    void start() { fpga = std::make_unique<keylight::FPGA>(tree.settingsPath(), tree.fontDir()); }
    std::string settings() const { return tree.settingsPath().toStdString(); }

    Tree tree;
    Board board;
    std::unique_ptr<keylight::FPGA> fpga;
};

}  // namespace

TEST_F(FileFaults, a_missing_or_unreadable_settings_file_is_named_once_with_its_remedy) {
    start();
    EXPECT_GE(Record::instance().find("keylight: settings file \"" + settings() +
                                      "\" is missing, text lines stay blank: write [font] with "
                                      "width=8 and height=13 into it"),
              0);
    EXPECT_EQ(countPrefix("keylight: settings file"), 1);

    // A folder in the file's place cannot be read by anyone, root included.
    Record::instance().clear();
    ASSERT_TRUE(QDir().mkdir(tree.settingsPath()));
    fpga->check_font_settings(tree.settingsPath());
    EXPECT_GE(Record::instance().find("keylight: settings file \"" + settings() +
                                      "\" cannot be read: make it readable for keylight's user "
                                      "(chmod 644)"),
              0);
    EXPECT_EQ(countPrefix("keylight: settings file"), 1);
    ASSERT_TRUE(QDir().rmdir(tree.settingsPath()));

    Record::instance().clear();
    {
        QFile file(tree.settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[font\nwidth=8\n");
    }
    fpga->check_font_settings(tree.settingsPath());
    EXPECT_GE(Record::instance().find("keylight: settings file \"" + settings() +
                                      "\" is not an INI file: correct it, for example [font] "
                                      "with width=8 and height=13"),
              0);
    EXPECT_EQ(countPrefix("keylight: settings file"), 1);
}

TEST_F(FileFaults, a_size_without_a_font_file_names_the_setting_and_the_font_folder) {
    tree.saveFont(7, 99);
    start();
    EXPECT_GE(Record::instance().find("keylight: no font file \"" + tree.fontPath(7, 99) +
                                      "\" for [font] width=7 height=99 of \"" + settings() +
                                      "\": set a size that has a file in \"" +
                                      tree.fontDir().toStdString() + "\""),
              0);
}

TEST_F(FileFaults, a_level_file_that_cannot_be_read_is_named_with_the_reason) {
    tree.saveFont(8, 13);
    keylight::ButtonLevels levels;
    keylight::LevelFile(tree.levelPath()).read(levels, nullptr);
    EXPECT_GE(Record::instance().find("keylight: level file \"" + tree.levelPath().toStdString() +
                                      "\" cannot be read (No such file or directory), the screen "
                                      "intensity stays as it is: it takes the lines \"led N\", "
                                      "\"lcd N\" and \"scr N\""),
              0);
    EXPECT_EQ(levels.screen, 100);
}

namespace {

// A register device that every open refuses with one error.
int g_openError = 0;
int refusingOpen(const char*, int) {
    errno = g_openError;
    return -1;
}
int refusingIoctl(int, unsigned long, fpga_request*) {
    errno = EBADF;
    return -1;
}
const fpga_device_ops REFUSING_DEVICE = {refusingOpen, refusingIoctl};

class DeviceFaults : public ::testing::Test {
protected:
    DeviceFaults() {
        Record::instance().clear();
        tree.saveFont(8, 13);
        fpga_set_device_ops(&REFUSING_DEVICE);
    }
    ~DeviceFaults() override { fpga_set_device_ops(nullptr); }

    // Starts keylight's FPGA object against a device whose open fails with error, draws a line
    // and returns the one log line about the device.
    std::string lineForOpenError(int error) {
        g_openError = error;
        Record::instance().clear();
        // Each FPGA object starts the hardware library anew: the last one's handles go first.
        panel_close();
        keylight::FPGA fpga(tree.settingsPath(), tree.fontDir());
        fpga.textLine(0, 0, "still running", false);
        EXPECT_EQ(countPrefix("keylight: register device") +
                      countPrefix("keylight: no read-write access"),
                  1);
        const int at = Record::instance().findPrefix("keylight: register device");
        const int denied = Record::instance().findPrefix("keylight: no read-write access");
        return Record::instance().lines().at(static_cast<size_t>(at >= 0 ? at : denied));
    }

    Tree tree;
};

}  // namespace

TEST_F(DeviceFaults, a_missing_or_refused_device_is_named_with_the_remedy_and_keylight_goes_on) {
    EXPECT_EQ(lineForOpenError(ENOENT),
              "keylight: register device \"/dev/fpga-reg\" is missing, nothing reaches the "
              "panel: load the FPGA driver, then systemctl restart panelprime keylight lampwatch");
    const std::string denied = lineForOpenError(EACCES);
    EXPECT_EQ(denied.rfind("keylight: no read-write access to register device \"/dev/fpga-reg\" "
                           "(Permission denied): it must be read-write for group \"",
                           0),
              0u)
        << denied;
    EXPECT_NE(denied.find("\" (udevadm trigger applies the package's device rule), then "
                          "systemctl restart panelprime keylight lampwatch"),
              std::string::npos)
        << denied;
    EXPECT_EQ(lineForOpenError(EIO),
              "keylight: register device \"/dev/fpga-reg\" cannot be opened (Input/output "
              "error), nothing reaches the panel");
}
