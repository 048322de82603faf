#include "stopwatch.h"
#include "capturedstream.h"
#include "fakeclock.h"
#include "tableheaders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

using namespace stopwatch;

namespace {

using stopwatchtest::deltaHeader;
using stopwatchtest::timeStampHeader;

std::string deltaRow(const std::string& name, int count, const std::string& average,
                     const std::string& last) {
    std::ostringstream row;
    row << name << std::string(15 - name.size(), ' ') << std::string(35, ' ') << count
        << std::string(13, ' ') << std::string(12 - average.size(), ' ') << average
        << std::string(12 - last.size(), ' ') << last;
    return row.str();
}

const std::string unsetTimeStampRow(const std::string& name) {
    std::tm local = {};
    std::time_t zero = 0;
    localtime_r(&zero, &local);
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.000 ", local.tm_hour, local.tm_min,
                  local.tm_sec);
    return name + std::string(15 - name.size(), ' ') + std::string(35, ' ') + clock + clock;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder per test, removed afterwards, so tests can run side by side.
class StopWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "stopwatch-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Times one interval of the given milliseconds (whole numbers) on event.
    void timeInterval(Event* event, int milliseconds) {
        clock.add(1000, 0);
        clock.add(1000, milliseconds * 1000);
        event->start();
        event->stop();
    }

    std::filesystem::path folder;
    FakeClock clock;
};

TEST_F(StopWatchTest, refuses_an_event_beyond_the_maximum_with_a_two_line_message) {
    StopWatch watch(2, (folder / "log").string(), true, clock);
    EXPECT_NE(watch.addEvent("a", "", DeltaType, ReportToStdout, false), nullptr);
    EXPECT_NE(watch.addEvent("b", "", TimeStampType, ReportToStdout, false), nullptr);

    CapturedStream err(std::cerr);
    EXPECT_EQ(watch.addEvent("c", "", DeltaType, ReportToStdout, false), nullptr);
    EXPECT_EQ(err.text(),
              "Cannot add new event.  This would exceed the maximum number of events (2)\n"
              "Remove some events using deleteEvent() and try again.\n");

    EXPECT_TRUE(watch.deleteEvent("a"));
    EXPECT_NE(watch.addEvent("c", "", DeltaType, ReportToStdout, false), nullptr);
}

TEST_F(StopWatchTest, a_maximum_of_zero_or_less_holds_no_events) {
    StopWatch none(0, "", false, clock);
    EXPECT_EQ(none.addEvent("a", "", DeltaType, ReportToStdout, false), nullptr);
    StopWatch negative(-1, "", false, clock);
    EXPECT_EQ(negative.addEvent("a", "", DeltaType, ReportToStdout, false), nullptr);
}

TEST_F(StopWatchTest, without_a_log_file_events_are_reported_on_stdout_whatever_the_mode) {
    CapturedStream out(std::cout);
    {
        CapturedStream err(std::cerr);
        StopWatch watch(4, "", true, clock);
        Event* event = watch.addEvent("net", "", DeltaType, ReportToLog, false);
        EXPECT_EQ(err.text(),
                  "No logfile was specified when creating StopWatch.\n"
                  "Entry 'net' will be created with logging to stdout only.\n");
        timeInterval(event, 3);
        watch.setReportOnDestruction(true);
    }
    EXPECT_EQ(out.text(), deltaHeader + deltaRow("net", 1, "3.000", "3.000") +
                              "\n\n\n"
                              "Deleting event 'net' now.\n");
}

TEST_F(StopWatchTest, log_modes_need_a_log_file_except_stdout_and_nowhere_by_event) {
    StopWatch watch(4, "", false, clock);
    Event* event = watch.addEvent("a", "first", DeltaType, ReportToStdout, false);

    EXPECT_FALSE(watch.setLogMode("a", ReportNowhere));
    EXPECT_TRUE(watch.setLogMode(event, ReportNowhere));
    EXPECT_TRUE(watch.setLogMode(event, ReportToStdout));
    EXPECT_FALSE(watch.setLogMode(event, ReportToLog));
    EXPECT_FALSE(watch.setLogMode(event, ReportToBoth));
    EXPECT_FALSE(watch.setLogMode(nullptr, ReportToStdout));

    ASSERT_TRUE(watch.setLogFile((folder / "log").string()));
    EXPECT_TRUE(watch.setLogMode("a", ReportToBoth));
    EXPECT_FALSE(watch.setLogMode("b", ReportToBoth));
}

TEST_F(StopWatchTest, events_are_matched_by_name_and_description_when_given_as_event) {
    StopWatch watch(4, (folder / "log").string(), false, clock);
    Event* first = watch.addEvent("a", "one", DeltaType, ReportToLog, false);
    Delta stranger("a", "two", false, clock);

    EXPECT_FALSE(watch.deleteEvent(&stranger));
    EXPECT_FALSE(watch.setLogMode(&stranger, ReportToLog));
    EXPECT_FALSE(watch.deleteEvent(static_cast<const Event*>(nullptr)));
    EXPECT_TRUE(watch.deleteEvent(first));
    EXPECT_FALSE(watch.deleteEvent("a"));
}

TEST_F(StopWatchTest, an_unknown_event_type_leaves_an_empty_entry_that_lookups_warn_about) {
    StopWatch watch(4, (folder / "log").string(), false, clock);
    CapturedStream err(std::cerr);
    EXPECT_EQ(watch.addEvent("odd", "", 7, ReportToStdout, false), nullptr);
    EXPECT_EQ(err.text(), "EventTableEntry():  Unknown Event type '7'");

    watch.addEvent("a", "", DeltaType, ReportToStdout, false);
    EXPECT_TRUE(watch.setLogMode("a", ReportToLog));
    EXPECT_TRUE(watch.deleteEvent("a"));
    EXPECT_EQ(err.text(),
              "EventTableEntry():  Unknown Event type '7'"
              "Warning: Event at index 0 is NULL\n"
              "Warning: Event at index 0 is NULL\n");
}

TEST_F(StopWatchTest, report_lists_deltas_before_timestamps_and_skips_mode_zero) {
    const std::filesystem::path log = folder / "timing.log";
    CapturedStream out(std::cout);
    {
        StopWatch watch(8, log.string(), false, clock);
        Event* stampOut = watch.addEvent("s-out", "", TimeStampType, ReportToStdout, false);
        Event* both = watch.addEvent("both", "", DeltaType, ReportToBoth, false);
        Event* hidden = watch.addEvent("hidden", "", DeltaType, ReportNowhere, false);
        Event* logged = watch.addEvent("logged", "", DeltaType, ReportToLog, false);
        Event* printed = watch.addEvent("printed", "", DeltaType, ReportToStdout, false);
        timeInterval(both, 1);
        timeInterval(hidden, 2);
        timeInterval(logged, 3);
        timeInterval(printed, 4);
        (void)stampOut;
        watch.setReportOnDestruction(true);
    }
    EXPECT_EQ(out.text(), deltaHeader + deltaRow("both", 1, "1.000", "1.000") + "\n" +
                              deltaRow("printed", 1, "4.000", "4.000") + "\n\n" + timeStampHeader +
                              unsetTimeStampRow("s-out") + "\n\n");
    EXPECT_EQ(readFile(log), deltaHeader + deltaRow("both", 1, "1.000", "1.000") + "\n" +
                                 deltaRow("logged", 1, "3.000", "3.000") + "\n");
}

TEST_F(StopWatchTest, reports_nothing_on_destruction_unless_asked) {
    const std::filesystem::path log = folder / "timing.log";
    CapturedStream out(std::cout);
    {
        StopWatch watch(8, log.string(), false, clock);
        timeInterval(watch.addEvent("d", "", DeltaType, ReportToBoth, false), 1);
    }
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(readFile(log), "");
}

TEST_F(StopWatchTest, a_new_log_file_receives_the_report_and_the_old_one_keeps_nothing) {
    const std::filesystem::path first = folder / "first.log";
    const std::filesystem::path second = folder / "second.log";
    {
        std::ofstream stale(first);
        stale << "stale lines\n";
    }
    CapturedStream out(std::cout);
    {
        StopWatch watch(8, first.string(), false, clock);
        timeInterval(watch.addEvent("d", "", DeltaType, ReportToLog, false), 2);
        ASSERT_TRUE(watch.setLogFile(second.string()));
        watch.setReportOnDestruction(true);
    }
    EXPECT_EQ(readFile(first), "");
    EXPECT_EQ(readFile(second), deltaHeader + deltaRow("d", 1, "2.000", "2.000") + "\n");
}

TEST_F(StopWatchTest, refuses_an_empty_log_file_name_and_reports_a_log_file_it_cannot_open) {
    StopWatch watch(8, "", false, clock);
    {
        CapturedStream err(std::cerr);
        EXPECT_FALSE(watch.setLogFile(""));
        EXPECT_EQ(err.text(), "Error: Log file name supplied is empty.\n");
    }
    EXPECT_FALSE(watch.setLogFile((folder / "missing" / "timing.log").string()));
    EXPECT_TRUE(watch.setLogFile((folder / "timing.log").string()));
}

}  // namespace
