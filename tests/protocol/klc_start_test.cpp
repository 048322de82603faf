// The plain-socket client in a process that has not used it yet: a program of its own, so that
// no other test has filled the cache first (a death test's fresh process would need exec, which
// cannot start a test program of the target's architecture under its emulator).
#include "klc.h"

#include <gtest/gtest.h>

namespace {

int clock_reads = 0;

double countingClock() {
    ++clock_reads;
    return 0.0;
}

// The cache starts as zeros, so these count as repeats.
TEST(PlainSocketClientAtStart,
     drops_image_0_and_an_empty_text_with_parameter_0_without_connecting) {
    klc_set_time_source(&countingClock);
    EXPECT_EQ(klc_set_button_image(5, 0), 0);
    EXPECT_EQ(klc_set_button_text(6, "", 0), 0);
    EXPECT_EQ(clock_reads, 0) << "no connection was tried";
}

}  // namespace
