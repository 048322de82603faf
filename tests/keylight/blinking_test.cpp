// Steady and blinking button LEDs, one blink tick at a time.
#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "buttonsetterimpl.h"
#include "panelmapbuilder.h"
#include "server_harness.h"

namespace {

using servertest::Panel;
using servertest::QtLog;
using servertest::StdoutCapture;

class Blinking : public testing::Test {
protected:
    Blinking() {
        buttons = keylight::PanelMapBuilder().buildMap(map, panel.fpga.get());
        setter = std::make_unique<keylight::ButtonSetterImpl>(panel.path("buttonlevel"));
        setter->setButtons(map);
        setter->setFPGA(panel.fpga.get());
        QtLog::clear();
    }

    // Runs ticks blink ticks; per tick 'D' or 'L' when LED led went dark or lit, '.' else.
    std::string tick(int ticks, int led) {
        std::string seen;
        for (int i = 0; i < ticks; ++i) {
            setter->update_timer();
            panel.drain();
            const auto writes = panel.takeButtonLedWrites();
            const std::string index = std::to_string(led);
            if (std::find(writes.begin(), writes.end(), "L" + index) != writes.end()) {
                seen += 'L';
            } else if (std::find(writes.begin(), writes.end(), "D" + index) != writes.end()) {
                seen += 'D';
            } else {
                seen += '.';
            }
        }
        return seen;
    }

    static std::string phases(const std::string& pattern, int ticksPerPhase) {
        std::string out;
        for (char c : pattern) {
            out += c;
            out += std::string(static_cast<size_t>(ticksPerPhase - 1), '.');
        }
        return out;
    }

    Panel panel;
    keylight::OwnedButtons buttons;  // outlives the map and the setter
    keylight::ButtonMap map;
    std::unique_ptr<keylight::ButtonSetterImpl> setter;
};

TEST_F(Blinking, time_500_is_dark_for_25_ticks_then_lit_for_25_with_one_task_per_phase) {
    setter->setLEDState(3, -1, 500);
    panel.drain();
    EXPECT_TRUE(panel.takeButtonLedWrites().empty()) << "the first tick posts the first state";

    EXPECT_EQ(tick(100, 3), phases("DLDL", 25));
    EXPECT_EQ(QtLog::lines().count("ButtonSetterImpl, update timer started"), 1);
}

TEST_F(Blinking, a_phase_lasts_at_least_one_tick_for_any_time) {
    setter->setLEDState(3, -1, 10);
    EXPECT_EQ(tick(4, 3), "DLDL");
    setter->setLEDState(4, -1, -100);
    EXPECT_EQ(tick(4, 4), "DLDL");
    setter->setLEDState(5, -1, -2147483647 - 1);
    EXPECT_EQ(tick(2, 5), "DL");
}

TEST_F(Blinking, all_buttons_blink_in_step_until_one_is_made_steady) {
    setter->setLEDState(-1, -1, 40);
    setter->update_timer();
    panel.drain();
    std::vector<std::string> expected;
    for (int led = 0; led < 24; ++led) {
        expected.push_back("D" + std::to_string(led));
    }
    // Within a tick the buttons post in blink-table order, which is by object address.
    std::vector<std::string> writes = panel.takeButtonLedWrites();
    std::sort(writes.begin(), writes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(writes, expected);

    setter->setLEDState(5, 1, 0);
    panel.drain();
    EXPECT_EQ(panel.takeButtonLedWrites(), std::vector<std::string>{"L5"});
    EXPECT_EQ(tick(4, 5), "....");
    setter->setLEDState(6, 1, 0);
    panel.drain();
    panel.takeButtonLedWrites();
    EXPECT_EQ(tick(4, 7), ".L.D");
}

TEST_F(Blinking, timer_stops_one_tick_after_the_last_blinking_button_goes_steady) {
    setter->setLEDState(3, -1, 100);
    tick(2, 3);
    setter->setLEDState(3, 0, 0);
    panel.drain();
    EXPECT_EQ(panel.takeButtonLedWrites(), std::vector<std::string>{"D3"});
    EXPECT_FALSE(QtLog::contains("update timer stoped"));
    EXPECT_EQ(tick(1, 3), ".");
    EXPECT_EQ(QtLog::lines().count("update timer stoped"), 1);

    setter->setLEDState(3, -1, 100);
    EXPECT_EQ(QtLog::lines().count("ButtonSetterImpl, update timer started"), 2);
}

TEST_F(Blinking, a_second_blink_request_restarts_the_cycle_dark) {
    setter->setLEDState(3, -1, 100);
    EXPECT_EQ(tick(7, 3), "D....L.");
    setter->setLEDState(3, -1, 100);
    EXPECT_EQ(tick(6, 3), "D....L");
}

TEST_F(Blinking, zero_time_is_refused_without_starting_the_timer) {
    StdoutCapture out;
    setter->setLEDState(3, -1, 0);
    EXPECT_EQ(out.finish(), "keylight: button id 3 must have a non-zero time to use blinking.");
    EXPECT_FALSE(QtLog::contains("ButtonSetterImpl, update timer started"));
}

TEST_F(Blinking, zero_time_leaves_a_blinking_button_blinking_with_its_old_time) {
    setter->setLEDState(3, -1, 40);
    EXPECT_EQ(tick(3, 3), "D.L");
    setter->setLEDState(3, -1, 0);
    EXPECT_EQ(tick(3, 3), ".D.");
}

TEST_F(Blinking, an_unknown_id_is_reported_as_invalid_before_the_time_is_looked_at) {
    StdoutCapture out;
    setter->setLEDState(24, -1, 0);
    setter->setLEDState(-2, 1, 0);
    EXPECT_EQ(out.finish(),
              "keylight:invalid button id 24, setLEDState()\n"
              "keylight:invalid button id -2, setLEDState()\n");
    panel.drain();
    EXPECT_TRUE(panel.takeButtonLedWrites().empty());
}

TEST_F(Blinking, the_kept_table_follows_every_change_and_a_new_keylight_resumes_it) {
    const QString folder = panel.dir.path();
    const auto kept = [&] {
        QFile file(panel.path(QStringLiteral("blink.table")));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    };
    setter->keepBlinkTable(folder);
    setter->setLEDState(7, -1, 100);
    setter->setLEDState(3, -1, 40);
    setter->setLEDState(5, 1, 0);
    setter->setLEDState(7, 1, 0);
    EXPECT_EQ(kept(), "keylight blink table 1\n3 0 1 40 40\nend 1\n");

    setter.reset();
    panel.drain();
    panel.takeButtonLedWrites();
    setter = std::make_unique<keylight::ButtonSetterImpl>(panel.path("buttonlevel"));
    setter->setButtons(map);
    setter->setFPGA(panel.fpga.get());
    setter->keepBlinkTable(folder);
    EXPECT_EQ(tick(5, 3), "D.L.D");
    EXPECT_EQ(tick(6, 7), "......");

    setter->setLEDState(-1, 0, 0);
    EXPECT_EQ(kept(), "keylight blink table 1\nend 0\n");
}

// A file that is no table of this panel's buttons: one line naming it and why, nothing blinks.
TEST_F(Blinking, a_kept_table_that_cannot_be_resumed_is_named_with_its_defect_and_ignored) {
    struct Case {
        QByteArray content;
        const char* why;  // nullptr: the table is resumed
    };
    const QByteArray header = "keylight blink table 1\n";
    const Case cases[] = {
        {header + "3 0 1 40 40\nend 1\n", nullptr},
        {"", "it is empty"},
        {header + "3 0 1 40 40\n", "it is cut short (no \"end\" line last)"},
        {header + "3 0 1 40 40\nend 1", "it is cut short (no \"end\" line last)"},
        {header + "3 0 1 4", "it is cut short (no \"end\" line last)"},
        {"[font]\nwidth=8\n", "it is no blink table (no \"keylight blink table 1\" line first)"},
        {QByteArray("\x7f"
                    "ELF\x01\x01\x01\x00\n",
                    9),
         "it is no blink table (no \"keylight blink table 1\" line first)"},
        {"keylight blink table 2\nend 0\n",
         "it is a blink table of version 2; this keylight reads version 1"},
        {header + "3 0 1 40 40\nend 2\n", "its \"end\" line does not count the 1 rows it holds"},
        {header + "3 0 1 forty 40\nend 1\n", "line 2 is no row of five numbers"},
        {header + "3 0 1 4294967336 40\nend 1\n", "line 2 is no row of five numbers"},
        {header + "3 0 1 40\nend 1\n", "line 2 is no row of five numbers"},
        {header + "24 0 1 40 40\nend 1\n", "line 2 names button 24, which the panel does not have"},
        {header + "3 0 1 40 40\n3 0 1 80 80\nend 2\n", "line 3 names button 3 a second time"},
        {header + "3 0 256 40 40\nend 1\n", "line 2 has a state outside 0 to 255"},
        {header + "3 0 1 0 40\nend 1\n", "line 2 has a time of 0, which never blinks"},
        {header + QByteArray(5000, '\n'), "it is larger than the 4096 bytes of any table"},
    };
    const QString file = panel.path(QStringLiteral("blink.table"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.left(60).toStdString());
        setter = std::make_unique<keylight::ButtonSetterImpl>(panel.path("buttonlevel"));
        setter->setButtons(map);
        setter->setFPGA(panel.fpga.get());
        panel.writeFile(QStringLiteral("blink.table"), c.content);
        QtLog::clear();
        setter->keepBlinkTable(panel.dir.path());
        const int notResumed =
            QtLog::countStartingWith(QStringLiteral("keylight: blink table \"%1\"").arg(file));
        if (c.why == nullptr) {
            EXPECT_EQ(notResumed, 0);
            EXPECT_EQ(tick(3, 3), "D.L");
        } else {
            EXPECT_TRUE(QtLog::contains(
                QStringLiteral("keylight: blink table \"%1\" not resumed: %2; no button blinks")
                    .arg(file, QString::fromUtf8(c.why))))
                << QtLog::lines().join('\n').toStdString();
            EXPECT_EQ(notResumed, 1);
            EXPECT_EQ(tick(3, 3), "...");
        }
    }
}

TEST_F(Blinking, the_timer_drives_the_ticks_in_the_event_loop) {
    setter->setLEDState(3, -1, 20);
    ASSERT_TRUE(servertest::processUntil([&] {
        const auto writes = panel.takeButtonLedWrites();
        return std::find(writes.begin(), writes.end(), "L3") != writes.end();
    }));
    setter->setLEDState(3, 0, 0);
    EXPECT_TRUE(servertest::processUntil([] { return QtLog::contains("update timer stoped"); }));
}

}  // namespace
