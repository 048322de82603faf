#include "capturedstream.h"
#include "fakeclock.h"
#include "stopwatch.h"
#include "tableheaders.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <sstream>

using namespace stopwatch;

namespace {

using stopwatchtest::deltaHeader;
using stopwatchtest::timeStampHeader;

// Seconds since the epoch of today at the given local clock time.
std::int64_t localSeconds(int hour, int minute, int second) {
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

TEST(DeltaTest, averages_the_intervals_and_prints_them_under_its_header) {
    FakeClock clock;
    clock.add(100, 0);
    clock.add(100, 1500);
    clock.add(200, 999000);
    clock.add(201, 1500);
    Delta delta("parse", "Parse one frame", false, clock);

    delta.start();
    delta.stop();
    delta.start();
    delta.stop();

    std::ostringstream os;
    delta.setHeaderFlag(true);
    delta.print(os);
    EXPECT_EQ(os.str(),
              deltaHeader +
                  "parse          Parse one frame                    2                    "
                  "2.000       2.500");
}

// The locale a Qt program takes from the environment at start-up, here one whose numbers
// have a decimal comma; the C locale again when it ends.
class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        setenv("LOCPATH", PANEL_TEST_LOCALE_DIR, 1);
        setenv("LC_ALL", "decimal_comma", 1);
        _active = std::setlocale(LC_ALL, "") != nullptr;
    }
    ~DecimalCommaLocale() {
        std::setlocale(LC_ALL, "C");
        unsetenv("LC_ALL");
        unsetenv("LOCPATH");
    }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool active() const { return _active; }

private:
    bool _active = false;
};

TEST(DeltaTest, keeps_the_decimal_point_of_its_columns_under_a_decimal_comma_locale) {
    FakeClock clock;
    clock.add(100, 0);
    clock.add(100, 1500);
    clock.add(200, 999000);
    clock.add(201, 1500);
    Delta delta("parse", "", false, clock);
    const DecimalCommaLocale locale;
    ASSERT_TRUE(locale.active()) << "no locale decimal_comma in " PANEL_TEST_LOCALE_DIR;
    char shown[16];
    std::snprintf(shown, sizeof shown, "%.1f", 2.5);
    ASSERT_STREQ(shown, "2,5") << "printf follows the locale";

    delta.start();
    delta.stop();
    delta.start();
    delta.stop();
    std::ostringstream os;
    delta.print(os);
    EXPECT_EQ(os.str().substr(os.str().size() - 24), "       2.000       2.500");
}

TEST(DeltaTest, times_across_decades_of_seconds_without_overflow) {
    FakeClock clock;
    clock.add(1700000000, 250000);
    clock.add(1700000003, 0);
    Delta delta("long", "", false, clock);
    delta.start();
    delta.stop();
    EXPECT_DOUBLE_EQ(delta.last(), 2750.0);
}

TEST(DeltaTest, ignores_a_second_start_and_a_stop_while_idle) {
    FakeClock clock;
    clock.add(10, 0);
    clock.add(10, 4000);
    Delta delta("d", "", false, clock);

    delta.stop();
    delta.start();
    delta.start();
    EXPECT_EQ(clock.unread(), 1u) << "the second start must not read the clock";
    delta.stop();
    delta.stop();
    EXPECT_EQ(delta.count(), 1);
    EXPECT_DOUBLE_EQ(delta.last(), 4.0);
}

TEST(DeltaTest, a_failed_clock_read_at_stop_keeps_it_running_until_a_later_stop) {
    FakeClock clock;
    clock.add(5, 0);
    Delta delta("d", "", false, clock);
    delta.start();
    {
        CapturedStream err(std::cerr);
        delta.stop();
        EXPECT_EQ(err.text(), "Delta::stop():  gettimeofday() failed\n");
    }
    EXPECT_TRUE(delta.isRunning());
    EXPECT_EQ(delta.count(), 0);

    clock.add(5, 3000);
    delta.stop();
    EXPECT_FALSE(delta.isRunning());
    EXPECT_DOUBLE_EQ(delta.last(), 3.0);
}

TEST(DeltaTest, verbose_events_narrate_each_clock_read_and_print_on_stop_when_asked) {
    FakeClock clock;
    clock.add(7, 250);
    clock.add(7, 1250);
    Delta delta("io", "disk", true, clock);
    delta.setPrintOnStop(true);

    CapturedStream out(std::cout);
    delta.start();
    delta.stop();
    EXPECT_EQ(out.text(),
              "Getting the starting reference time...\n"
              "_startTime = 7 seconds, 250 usecs.\n"
              "Getting the current time...\n"
              "now = 7 seconds, 1250 usecs.\n"
              "io             disk                               1                    1.000       "
              "1.000\n");
}

TEST(DeltaTest, reset_forgets_the_intervals) {
    FakeClock clock;
    clock.add(1, 0);
    clock.add(1, 2000);
    Delta delta("d", "x", false, clock);
    delta.start();
    delta.stop();
    delta.reset();

    std::ostringstream os;
    delta.print(os);
    EXPECT_EQ(os.str(),
              "d              x                                  0                    "
              "0.000       0.000");
}

TEST(TimeStampTest, shows_start_and_end_as_local_clock_times_under_its_header) {
    const std::int64_t base = localSeconds(9, 5, 3);
    FakeClock clock;
    clock.add(base, 42000);
    clock.add(base + 61, 999999);
    TimeStamp stamp("boot", "Start-up", false, clock);

    stamp.start();
    stamp.stop();

    std::ostringstream os;
    stamp.setHeaderFlag(true);
    stamp.print(os);
    EXPECT_EQ(os.str(),
              timeStampHeader +
                  "boot           Start-up                           09:05:03.042 09:06:04.999 ");
}

TEST(TimeStampTest, verbose_stamps_narrate_and_print_on_stop_before_going_idle) {
    const std::int64_t base = localSeconds(23, 59, 59);
    FakeClock clock;
    clock.add(base, 1000);
    clock.add(base, 2000);
    TimeStamp stamp("t", "d", true, clock);
    stamp.setPrintOnStop(true);

    CapturedStream out(std::cout);
    stamp.start();
    stamp.stop();
    EXPECT_FALSE(stamp.isRunning());
    EXPECT_EQ(out.text(),
              "Getting the starting time...\n"
              "_startTime = " +
                  std::to_string(base) +
                  " seconds, 1000 usecs.\n"
                  "Getting the end time...\n"
                  "_endTime = " +
                  std::to_string(base) +
                  " seconds, 2000 usecs.\n"
                  "t              d                                  23:59:59.001 23:59:59.002 \n");
}

TEST(TimeStampTest, a_failed_clock_read_is_reported_and_leaves_it_running) {
    FakeClock clock;
    TimeStamp stamp("t", "", false, clock);
    CapturedStream err(std::cerr);
    stamp.start();
    stamp.stop();
    EXPECT_EQ(err.text(),
              "TimeStamp::start(): gettimeofday() failed\n"
              "TimeStamp::stop():  gettimeofday() failed\n");
    EXPECT_TRUE(stamp.isRunning());
}

}  // namespace
