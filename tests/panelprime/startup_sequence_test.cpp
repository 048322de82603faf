// The TFT controllers' start-up sequence as the FPGA sees it.
#include <algorithm>
#include <cerrno>

#include "fpga_device.h"
#include "panel_fixture.h"

namespace {

struct controller_step {
    int reg;
    uint16_t value;
};

// Register and value of every controller row, in order.
const controller_step expected_rows[] = {
    {0x00, 0x0013}, {0x11, 0x7447}, {0x12, 0x0012}, {0x11, 0x4477}, {0x10, 0x2020}, {0x04, 0x0002},
    {0x10, 0x2120}, {0x11, 0x3307}, {0x04, 0x0000}, {0x0B, 0x5101}, {0x08, 0x0100}, {0x13, 0x3F20},
    {0x42, 0x8300}, {0x43, 0x0000}, {0x44, 0x8304}, {0x45, 0x8001}, {0x03, 0x7030}, {0x02, 0x0600},
    {0x01, 0x011D}, {0x30, 0x0000}, {0x31, 0x0306}, {0x32, 0x0001}, {0x33, 0x0000}, {0x34, 0x0404},
    {0x35, 0x0000}, {0x36, 0x0707}, {0x37, 0x0000}, {0x38, 0x0101}, {0x39, 0x0207}, {0x07, 0x0037},
};

using StartUp = PanelTest;

int failing_open(const char*, int) {
    errno = ENOENT;
    return -1;
}
int failing_ioctl(int, unsigned long, fpga_request*) {
    errno = EBADF;
    return -1;
}
const fpga_device_ops no_device = {failing_open, failing_ioctl};

}  // namespace

TEST_F(StartUp, writes_3_panel_control_bytes_around_30_controller_rows_in_order) {
    EXPECT_EQ(tft_controller_init(), 0);
    std::vector<std::string> expected = {"W 0800 0000", "W 0800 8000"};
    for (const controller_step& row : expected_rows) {
        expected = expected + controller_row(7, row.reg, row.value);
    }
    expected.push_back("W 0800 FF00");
    const auto lines = accesses();
    EXPECT_EQ(lines.size(), 3u + 90u);
    EXPECT_EQ(lines, expected);
}

TEST_F(StartUp, leaves_the_screens_on_at_full_backlight) {
    tft_controller_init();
    const panelsim::BoardState board = state();
    EXPECT_EQ(board.screens_on, (std::array<bool, 3>{true, true, true}));
    EXPECT_EQ(board.panel_control, 0xFF);
    EXPECT_EQ(board.backlight_level, 63);
}

TEST(StartUpWithoutDevice, runs_through_silently) {
    fpga_set_device_ops(&no_device);
    panel_close();
    ::testing::internal::CaptureStdout();
    panel_open();
    EXPECT_EQ(fpga_fd, -1);
    EXPECT_EQ(tft_controller_init(), -1);
    fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    panel_close();
    fpga_set_device_ops(nullptr);
}
