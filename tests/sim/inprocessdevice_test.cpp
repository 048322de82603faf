// The hardware library's device calls reaching a model in the same process.
#include "inprocessdevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "panel.h"

namespace panelsim {
namespace {

TEST(InProcessDevice, routes_the_libraries_opens_and_accesses_to_the_model_until_it_ends) {
    std::vector<std::string> trace;
    FpgaModel model([&](const std::string& line) { trace.push_back(line); });
    {
        InProcessDevice device(model);
        const int fd = fpga_open(nullptr);
        ASSERT_GE(fd, 0);
        uint16_t value = 0x6300;
        EXPECT_EQ(fpga_access(fd, 0x0900, 0, &value, 1), 0);
        model.setStatusInputs(2);
        EXPECT_EQ(fpga_read(fd, 0x1000), 2);
        errno = 0;
        EXPECT_EQ(fpga_open("/dev/other"), -1);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_TRUE(model.state().button_leds[3]);
    }
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[1], "1 W 0900 6300");
    EXPECT_EQ(trace[2], "1 R 1000 0002");
    EXPECT_EQ(trace[3], "1 CLOSE");
    // The real open(2) again: no register device on a development machine or in qemu.
    const int fd = fpga_open(nullptr);
    EXPECT_EQ(fd, -1);
}

}  // namespace
}  // namespace panelsim
