// The FPGA object's worker: what the board sees, in which order, and what teardown leaves out.
#include <gtest/gtest.h>

#include <QThread>

#include <climits>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fpga.h"
#include "fpga_support.h"

using fpgatest::Board;
using fpgatest::quoted;
using fpgatest::Record;
using fpgatest::Tree;

namespace {

// Status LED 31 lit: executed last, it shows that every task posted before it has run.
constexpr char MARKER[] = "trace: W 0900 BF00";

void postMarker(keylight::FPGA& fpga) {
    fpga.setLEDStatusIndicator(31, 1);
}

// A 24-bit BMP file of 2 x 2 pixels, every pixel the colour (blue, green, red).
std::vector<uint8_t> bmpOf2x2(uint8_t blue, uint8_t green, uint8_t red) {
    std::vector<uint8_t> bmp(54, 0);
    auto put32 = [&bmp](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 70);
    put32(10, 54);  // pixel data offset
    put32(14, 40);  // information header size
    put32(18, 2);   // width
    put32(22, 2);   // height
    bmp[26] = 1;    // planes
    bmp[28] = 24;   // bits per pixel
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 2; ++x)
            bmp.insert(bmp.end(), {blue, green, red});
        bmp.insert(bmp.end(), {0, 0});  // rows pad to a multiple of 4 bytes
    }
    return bmp;
}

// The peak resident memory of this process in KiB (VmHWM).
long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// The same after resetting the peak to the current size, where the kernel allows that.
long resetPeakResidentKiB() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return peakResidentKiB();
}

class Worker : public ::testing::Test {
protected:
    Worker() { tree.saveFont(8, 13); }

    std::unique_ptr<keylight::FPGA> makeFpga() {
        return std::make_unique<keylight::FPGA>(tree.settingsPath(), tree.fontDir());
    }

    Tree tree;
    Board board;
};

}  // namespace

TEST_F(Worker, blanks_all_screens_first_once_the_first_font_has_loaded) {
    auto fpga = makeFpga();
    fpga->setLEDButtonState(3, 1);
    ASSERT_TRUE(Record::instance().waitFor("trace: W 0900 6300"));

    Record& record = Record::instance();
    const int loaded =
        record.find("keylight: Successfully changed to font " + quoted(tree.fontPath(8, 13)));
    ASSERT_GE(loaded, 0);
    EXPECT_EQ(
        record.find("Files being watched: (" + quoted(tree.settingsPath().toStdString()) + ")"),
        loaded + 1);
    // The first register access of all is the blackout's full window on mask 7, and its
    // 16384 black pixels go out before anything a client or button asked for.
    const int first = record.findPrefix("trace: W ");
    EXPECT_GT(first, loaded);
    EXPECT_EQ(record.lines()[static_cast<size_t>(first)], "trace: W 0A0E 0000");
    const int blackout = record.findPrefix("trace: B 0A0F 16384 ");
    EXPECT_GT(blackout, first);
    EXPECT_LT(blackout, record.find("trace: W 0900 6300"));
    for (int screen = 0; screen < panelsim::SCREEN_COUNT; ++screen) {
        for (uint16_t pixel : board.fpgaModel().picture(screen))
            ASSERT_EQ(pixel, 0x0000);
    }
}

TEST_F(Worker, executes_tasks_in_the_order_they_were_posted) {
    auto fpga = makeFpga();
    const std::vector<uint8_t> bmp = bmpOf2x2(0, 0, 0xFF);
    fpga->textLine(0, 0, "AB", false);
    fpga->setLEDButtonState(3, 1);
    fpga->drawTFTImage(1, 0, 0, bmp.data(), bmp.size());
    fpga->setLEDToggleIndicator(1, 1);
    fpga->subTextLine(2, 0, 1, 2, "XY", 0xFF0000, 0x000000);
    fpga->setTFTIntensity(60);
    fpga->setLEDButtonState(3, 0);
    postMarker(*fpga);
    ASSERT_TRUE(Record::instance().waitFor(MARKER));

    Record& record = Record::instance();
    const int blackout = record.findPrefix("trace: B 0A0F 16384 ");
    const std::vector<int> order = {
        record.findPrefix("trace: B 0A03 ", blackout),  // text line, screen 0
        record.find("trace: W 0900 6300", blackout),
        record.findPrefix("trace: B 0A05 4 ", blackout),  // 2 x 2 image, screen 1
        record.find("trace: W 1003 0002", blackout),
        record.findPrefix("trace: B 0A09 ", blackout),  // sub-text, screen 2
        record.find("trace: W 0800 E500", blackout),    // 60 % is level 37
        record.find("trace: W 0900 4300", blackout),
        record.find(MARKER, blackout),
    };
    for (size_t i = 0; i < order.size(); ++i) {
        ASSERT_GE(order[i], 0) << "task " << i << " never reached the board";
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]) << "task " << i << " ran out of order";
        }
    }
}

TEST_F(Worker, draws_inverted_text_white_on_black_and_plain_text_black_on_white) {
    auto fpga = makeFpga();
    fpga->textLine(0, 0, "HH", true);
    fpga->textLine(1, 0, "HH", false);
    postMarker(*fpga);
    ASSERT_TRUE(Record::instance().waitFor(MARKER));

    // Line 0 of an 8 x 13 font covers the top 13 rows of the whole width.
    struct Expected {
        int screen;
        uint16_t text;
        uint16_t background;
    };
    for (const Expected& expected : {Expected{0, 0xFFFF, 0x0000}, Expected{1, 0x0000, 0xFFFF}}) {
        const panelsim::Picture picture = board.fpgaModel().picture(expected.screen);
        int textPixels = 0;
        for (int i = 0; i < 13 * panelsim::SCREEN_WIDTH; ++i) {
            const uint16_t pixel = picture[static_cast<size_t>(i)];
            ASSERT_TRUE(pixel == expected.text || pixel == expected.background)
                << "screen " << expected.screen << " pixel " << i << " is " << pixel;
            if (pixel == expected.text)
                ++textPixels;
        }
        EXPECT_GT(textPixels, 10) << "screen " << expected.screen;
        EXPECT_LT(textPixels, 2 * 8 * 13) << "screen " << expected.screen;
    }
}

TEST_F(Worker, draws_its_own_copy_of_the_image_after_the_sender_released_the_bytes) {
    auto fpga = makeFpga();
    ASSERT_TRUE(Record::instance().waitFor("trace: W 0A0F 8001"));  // the blackout is done
    board.holdAt("W 0900 ");
    fpga->setLEDButtonState(0, 1);
    ASSERT_TRUE(board.waitUntilHeld());
    {
        auto message = std::make_unique<std::vector<uint8_t>>(bmpOf2x2(0, 0xFF, 0));
        fpga->drawTFTImage(0, 10, 20, message->data(), message->size());
        std::fill(message->begin(), message->end(), 0xEE);
    }
    postMarker(*fpga);
    board.release();
    ASSERT_TRUE(Record::instance().waitFor(MARKER));

    const panelsim::Picture picture = board.fpgaModel().picture(0);
    for (int y = 20; y < 22; ++y) {
        for (int x = 10; x < 12; ++x) {
            EXPECT_EQ(picture[static_cast<size_t>(y * panelsim::SCREEN_WIDTH + x)], 0x07E0)
                << "pixel " << x << "," << y;
        }
    }
}

TEST_F(Worker, teardown_finishes_the_task_in_progress_and_drops_the_queued_ones) {
    auto fpga = makeFpga();
    ASSERT_TRUE(Record::instance().waitFor("trace: W 0A0F 8001"));
    board.holdAt("W 0900 6000");
    fpga->setLEDButtonState(0, 1);
    ASSERT_TRUE(board.waitUntilHeld());
    for (int led = 1; led <= 5; ++led)
        fpga->setLEDButtonState(led, 1);
    fpga->textLine(0, 0, "queued", true);

    // Let the held task go only once teardown is waiting for the worker.
    const pid_t mainThread = fpgatest::currentThreadId();
    std::thread releaser([&] {
        fpgatest::waitUntilSleeping(mainThread);
        board.release();
    });
    fpga.reset();
    releaser.join();

    Record& record = Record::instance();
    EXPECT_GE(record.find("trace: W 0900 6000"), 0);
    EXPECT_EQ(record.findPrefix("trace: W 0900 6"), record.find("trace: W 0900 6000"));
    EXPECT_LT(record.find("trace: W 0900 6100"), 0);
    EXPECT_LT(record.findPrefix("trace: B 0A03 "), 0);
    const panelsim::BoardState state = board.fpgaModel().state();
    EXPECT_TRUE(state.button_leds[0]);
    for (int led = 1; led <= 5; ++led)
        EXPECT_FALSE(state.button_leds[led]) << "LED " << led;
}

TEST_F(Worker, font_change_waits_for_the_text_line_being_drawn) {
    auto fpga = makeFpga();
    ASSERT_TRUE(Record::instance().waitFor("trace: W 0A0F 8001"));
    board.holdAt("B 0A03 ");
    fpga->textLine(0, 1, "AB", true);
    ASSERT_TRUE(board.waitUntilHeld());
    tree.saveFont(8, 16);

    const pid_t mainThread = fpgatest::currentThreadId();
    std::thread releaser([&] {
        fpgatest::waitUntilSleeping(mainThread);
        board.release();
    });
    fpga->check_font_settings(tree.settingsPath());
    releaser.join();
    ASSERT_TRUE(Record::instance().waitFor("keylight: Successfully changed to font " +
                                           quoted(tree.fontPath(8, 16))));

    // The text line's closing full window (rows 1..128 on mask 7) comes before the load.
    Record& record = Record::instance();
    const int burst = record.findPrefix("trace: B 0A03 ");
    const int lineDone = record.find("trace: W 0A0F 8001", burst);
    const int loading = record.find("keylight: Loading font ' " + quoted(tree.fontPath(8, 16)) +
                                    " ' from configuration file.");
    ASSERT_GE(burst, 0);
    ASSERT_GE(loading, 0);
    EXPECT_GE(lineDone, 0);
    EXPECT_LT(lineDone, loading);
    // The line was drawn with the 8 x 13 font: line 1 is rows 14..27.
    EXPECT_GE(record.find("trace: W 0A03 1B0E"), 0);
    EXPECT_LT(record.find("trace: W 0A03 1B0E"), burst);
}

TEST_F(Worker, a_sub_text_line_keeps_no_more_characters_than_the_line_has_cells) {
    auto fpga = makeFpga();
    ASSERT_TRUE(Record::instance().waitFor("trace: W 0A0F 8001"));
    struct Drawn {
        panelsim::Picture picture;
        std::string columns;  // the column window written for the run
    };
    // Line 1 of screen 0 from cell 0, red on blue, on a black screen.
    auto draw = [&](int numChars) {
        Record::instance().clear();
        fpga->blackoutScreen(0);
        fpga->subTextLine(0, 1, 0, numChars, "AB", 0xFF0000, 0x0000FF);
        postMarker(*fpga);
        EXPECT_TRUE(Record::instance().waitFor(MARKER)) << numChars;
        const int index = Record::instance().find("trace: W 0A02 4400");
        EXPECT_GE(index, 0) << numChars;
        return Drawn{board.fpgaModel().picture(0),
                     index < 0 ? "" : Record::instance().lines()[static_cast<size_t>(index + 1)]};
    };
    // The 8 x 13 font has 16 cells a line: rows 14..26 of the screen, 13..25 of the picture.
    auto inLine = [](size_t pixel) { return pixel / 128 >= 13 && pixel / 128 < 26; };

    const Drawn none = draw(0);
    EXPECT_EQ(none.columns, "trace: W 0A03 0304");
    for (uint16_t pixel : none.picture)
        ASSERT_EQ(pixel, 0x0000);

    const Drawn full = draw(16);
    EXPECT_EQ(full.columns, "trace: W 0A03 8304");
    int red = 0;
    for (size_t i = 0; i < full.picture.size(); ++i) {
        const uint16_t pixel = full.picture[i];
        if (!inLine(i)) {
            ASSERT_EQ(pixel, 0x0000) << "pixel " << i;
            continue;
        }
        ASSERT_TRUE(pixel == 0xF800 || pixel == 0x001F) << "pixel " << i << " is " << pixel;
        red += pixel == 0xF800 ? 1 : 0;
    }
    EXPECT_GT(red, 0);

    const Drawn one = draw(1);
    EXPECT_EQ(one.columns, "trace: W 0A03 0B04");
    for (size_t i = 0; i < one.picture.size(); ++i) {
        const bool firstCell = inLine(i) && i % 128 < 8;
        ASSERT_EQ(one.picture[i], firstCell ? full.picture[i] : 0x0000) << "pixel " << i;
    }

    // Counts past the line draw what the whole line shows, and the largest one costs no
    // memory: it once had the text padded to two gigabytes.
    const long peakBefore = resetPeakResidentKiB();
    for (int numChars : {17, INT_MAX}) {
        const Drawn past = draw(numChars);
        EXPECT_EQ(past.columns, "trace: W 0A03 8304") << numChars;
        EXPECT_TRUE(past.picture == full.picture) << numChars;
    }
    EXPECT_LT(peakResidentKiB() - peakBefore, 32 * 1024);
}
