// The monitor with status bits the test sets, against a server of the test's own that
// stands in for keylight: the frames it receives and the lines the monitor logs.
#include "monitor.h"
#include "arguments.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using lampwatch::Monitor;

namespace {

constexpr int WAIT_MS = 5000;
constexpr int NO_TIMER_POLLS = 3600000;  // the test polls by hand

std::vector<std::string> logged;

void keepDebugLine(QtMsgType, const QMessageLogContext&, const QString& message) {
    logged.push_back(message.toStdString());
}

// The lines about reaching keylight, each cut after its first `length` characters.
std::vector<std::string> linkLines(const std::vector<std::string>& lines, size_t length) {
    std::vector<std::string> kept;
    for (const std::string& line : lines)
        if (line.rfind("lampwatch: ", 0) == 0)
            kept.push_back(line.substr(0, length));
    return kept;
}

std::vector<std::string> takeLog() {
    std::vector<std::string> lines;
    lines.swap(logged);
    return lines;
}

QByteArray toggle(int indicator, int state) {
    return keylight::makeSetLEDToggleIndicator(indicator, state);
}

// Stands in for keylight: accepts every connection and cuts the frames they carry.
class FrameSink : public QObject {
public:
    explicit FrameSink(quint16 port = 0) {
        _server.listen(QHostAddress::LocalHost, port);
        connect(&_server, &QTcpServer::newConnection, this, &FrameSink::takeConnections);
    }

    quint16 port() const { return _server.serverPort(); }
    bool listening() const { return _server.isListening(); }

    // Runs the event loop until `count` records have arrived in all, or the wait is over.
    std::vector<QByteArray> waitForRecords(size_t count) {
        QElapsedTimer waited;
        waited.start();
        while (_records.size() < count && waited.elapsed() < WAIT_MS)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return _records;
    }

    // Closes every connection, as keylight does when it stops.
    void dropConnections() {
        for (QTcpSocket* peer : _peers)
            peer->close();
    }

private:
    void takeConnections() {
        while (QTcpSocket* peer = _server.nextPendingConnection()) {
            _peers.push_back(peer);
            auto buffer = std::make_shared<QByteArray>();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer, buffer] {
                *buffer += peer->readAll();
                cutFrames(*buffer);
            });
        }
    }

    void cutFrames(QByteArray& buffer) {
        while (buffer.size() >= 4) {
            const auto* head = reinterpret_cast<const uchar*>(buffer.constData());
            const int length = head[0] << 24 | head[1] << 16 | head[2] << 8 | head[3];
            if (buffer.size() < 4 + length)
                return;
            _records.push_back(buffer.mid(4, length));
            buffer.remove(0, 4 + length);
        }
    }

    QTcpServer _server;
    std::vector<QTcpSocket*> _peers;
    std::vector<QByteArray> _records;
};

// A port on which nothing listens at the moment.
quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class MonitorTest : public testing::Test {
protected:
    void SetUp() override {
        qInstallMessageHandler(keepDebugLine);
        logged.clear();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { qInstallMessageHandler(nullptr); }

    // A settings file holding `contents`.
    QString settings(const char* contents) {
        const QString path = dir.filePath(QStringLiteral("launcher.cfg"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(contents);
        return path;
    }

    lampwatch::StatusSource source() {
        return lampwatch::StatusSource{[this] {
                                           ++opens;
                                           return 0;
                                       },
                                       [this] { return bits; }};
    }

    std::unique_ptr<Monitor> start(const QString& settings_path, quint16 port,
                                   int interval = NO_TIMER_POLLS) {
        return std::make_unique<Monitor>(interval, source(), settings_path, port);
    }

    QTemporaryDir dir;
    int bits = 0;
    int opens = 0;
};

}  // namespace

TEST_F(MonitorTest, starts_by_logging_its_settings_and_switching_indicator_1_on) {
    FrameSink sink;
    auto monitor = start(settings("[psu]\nredundant=false\n"), sink.port(), 2000);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(takeLog(),
              (std::vector<std::string>{"Creating Monitor instance... ", "Redundant PSU's?  False ",
                                        "Setting poll interval to  2000  msecs "}));
    EXPECT_EQ(sink.waitForRecords(1), (std::vector<QByteArray>{toggle(1, 1)}));
}

TEST_F(MonitorTest, a_first_poll_that_reads_0_sends_and_logs_nothing) {
    FrameSink sink;
    auto monitor = start(settings(""), sink.port());
    takeLog();
    monitor->update();
    EXPECT_TRUE(takeLog().empty());
    bits = 2;
    monitor->update();
    EXPECT_EQ(sink.waitForRecords(2), (std::vector<QByteArray>{toggle(1, 1), toggle(0, 1)}));
}

TEST_F(MonitorTest, single_supply_mode_lights_the_led_for_any_bit_and_logs_each_change) {
    FrameSink sink;
    bits = 1;
    auto monitor = start(settings("[psu]\nredundant=false\n"), sink.port());
    EXPECT_EQ(takeLog(), (std::vector<std::string>{
                             "Creating Monitor instance... ", "Redundant PSU's?  False ",
                             "Setting poll interval to  3600000  msecs ", "new_psu_status =  1 ",
                             "_psu_status =  0 ", "PSU status has changed from  0  to  1 ",
                             "Setting PSU LED to state  1 "}));
    bits = 3;
    monitor->update();
    EXPECT_EQ(takeLog(), (std::vector<std::string>{"new_psu_status =  3 ", "_psu_status =  1 ",
                                                   "PSU status has changed from  1  to  3 ",
                                                   "Setting PSU LED to state  1 "}));
    monitor->update();
    EXPECT_TRUE(takeLog().empty());
    bits = 0;
    monitor->update();
    EXPECT_EQ(takeLog(), (std::vector<std::string>{"new_psu_status =  0 ", "_psu_status =  3 ",
                                                   "PSU status has changed from  3  to  0 ",
                                                   "Error: no bits are set!! ",
                                                   "Setting PSU LED to state  0 "}));
    EXPECT_EQ(sink.waitForRecords(4),
              (std::vector<QByteArray>{toggle(1, 1), toggle(0, 1), toggle(0, 1), toggle(0, 0)}));
}

TEST_F(MonitorTest, redundant_mode_lights_the_led_only_with_both_supplies) {
    FrameSink sink;
    bits = 3;
    auto monitor = start(settings("[psu]\nredundant=true\n"), sink.port());
    const std::vector<std::string> start_lines = takeLog();
    EXPECT_EQ(start_lines.at(1), "Redundant PSU's?  True ");
    EXPECT_EQ(start_lines.at(5), "PSU status has changed from  0  to  3 ");
    EXPECT_EQ(start_lines.at(6), "Both bits are set ");
    bits = 1;
    monitor->update();
    EXPECT_EQ(
        takeLog(),
        (std::vector<std::string>{
            "new_psu_status =  1 ", "_psu_status =  3 ", "PSU status has changed from  3  to  1 ",
            "Dual mode error: both PSU's are not plugged in. ", "Setting PSU LED to state  0 "}));
    bits = 3;
    monitor->update();
    EXPECT_EQ(takeLog().at(3), "Both bits are set ");
    EXPECT_EQ(sink.waitForRecords(4),
              (std::vector<QByteArray>{toggle(1, 1), toggle(0, 1), toggle(0, 0), toggle(0, 1)}));
}

TEST_F(MonitorTest, runs_in_single_supply_mode_without_the_setting_or_without_the_file) {
    FrameSink sink;
    {
        auto monitor = start(settings("[font]\nwidth=6\n"), sink.port());
        EXPECT_EQ(takeLog().at(1), "Redundant PSU's?  False ");
    }
    auto monitor = start(dir.filePath(QStringLiteral("missing.cfg")), sink.port());
    EXPECT_EQ(takeLog().at(1), "Redundant PSU's?  False ");
}

TEST_F(MonitorTest, logs_a_settings_file_it_cannot_read_and_runs_in_single_supply_mode) {
    FrameSink sink;
    const QString unreadable = dir.filePath(QStringLiteral("a-folder"));
    ASSERT_TRUE(QDir().mkpath(unreadable));
    auto monitor = start(unreadable, sink.port());
    const std::vector<std::string> lines = takeLog();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Error accessing ' \"" + unreadable.toStdString() + "\" ' for reading ");
    EXPECT_EQ(lines[2], "Redundant PSU's?  False ");
}

TEST_F(MonitorTest, polls_at_its_interval) {
    FrameSink sink;
    auto monitor = start(settings(""), sink.port(), 10);
    ASSERT_EQ(sink.waitForRecords(1).size(), 1u);
    bits = 1;
    EXPECT_EQ(sink.waitForRecords(2), (std::vector<QByteArray>{toggle(1, 1), toggle(0, 1)}));
}

TEST_F(MonitorTest, keylight_coming_up_after_the_monitor_gets_both_indicators_at_the_next_poll) {
    const quint16 port = unusedPort();
    bits = 1;
    auto monitor = start(settings(""), port);
    monitor->update();
    FrameSink sink(port);
    ASSERT_TRUE(sink.listening());
    monitor->update();
    EXPECT_EQ(sink.waitForRecords(2), (std::vector<QByteArray>{toggle(0, 1), toggle(1, 1)}));
    monitor->update();
    bits = 0;
    monitor->update();
    EXPECT_EQ(sink.waitForRecords(3),
              (std::vector<QByteArray>{toggle(0, 1), toggle(1, 1), toggle(0, 0)}));
}

TEST_F(MonitorTest, keylight_coming_up_before_any_bit_was_seen_gets_indicator_1_only) {
    const quint16 port = unusedPort();
    auto monitor = start(settings(""), port);
    FrameSink sink(port);
    ASSERT_TRUE(sink.listening());
    monitor->update();
    bits = 2;
    monitor->update();
    EXPECT_EQ(sink.waitForRecords(2), (std::vector<QByteArray>{toggle(1, 1), toggle(0, 1)}));
}

TEST_F(MonitorTest,
       a_change_keylight_missed_is_sent_once_it_is_back_and_the_outage_is_logged_once) {
    FrameSink* sink = new FrameSink;
    const quint16 port = sink->port();
    bits = 1;
    auto monitor = start(settings(""), port);
    ASSERT_EQ(sink->waitForRecords(2).size(), 2u);
    delete sink;
    QCoreApplication::processEvents();
    bits = 0;
    // The monitor may take a poll or two to find the connection gone; each of them owes the
    // dark LED from now on.
    for (int poll = 0; poll < 3; ++poll) {
        monitor->update();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    FrameSink back(port);
    ASSERT_TRUE(back.listening());
    std::vector<QByteArray> records;
    for (int poll = 0; poll < 100 && records.size() < 2; ++poll) {
        monitor->update();
        records = back.waitForRecords(2);
    }
    EXPECT_EQ(records, (std::vector<QByteArray>{toggle(0, 0), toggle(1, 1)}));
    const std::string where = "keylight on 127.0.0.1 port " + std::to_string(port);
    const std::string outage = "lampwatch: cannot reach " + where + ": ";
    EXPECT_EQ(linkLines(takeLog(), outage.size()),
              (std::vector<std::string>{outage, "lampwatch: " + where + " is back"}));
}

TEST_F(MonitorTest, a_restarted_keylight_gets_both_indicator_states_again_with_no_change_of_bits) {
    const quint16 port = unusedPort();
    auto first = std::make_unique<FrameSink>(port);
    ASSERT_TRUE(first->listening());
    bits = 3;
    auto monitor = start(settings(""), port);
    ASSERT_EQ(first->waitForRecords(2), (std::vector<QByteArray>{toggle(1, 1), toggle(0, 1)}));
    first->dropConnections();
    first.reset();
    FrameSink second(port);
    ASSERT_TRUE(second.listening());
    std::vector<QByteArray> records;
    for (int poll = 0; poll < 100 && records.size() < 2; ++poll) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        monitor->update();
        records = second.waitForRecords(2);
    }
    EXPECT_EQ(records, (std::vector<QByteArray>{toggle(0, 1), toggle(1, 1)}));
    takeLog();
    monitor->update();
    EXPECT_TRUE(takeLog().empty());
    bits = 1;
    monitor->update();
    EXPECT_EQ(second.waitForRecords(3),
              (std::vector<QByteArray>{toggle(0, 1), toggle(1, 1), toggle(0, 1)}));
}

TEST(LampwatchArguments, one_argument_is_logged_and_read_as_the_interval) {
    logged.clear();
    qInstallMessageHandler(keepDebugLine);
    EXPECT_EQ(lampwatch::pollInterval({QStringLiteral("lampwatch"), QStringLiteral("2000")}), 2000);
    EXPECT_EQ(lampwatch::pollInterval({QStringLiteral("lampwatch"), QStringLiteral("-5")}), 5000);
    qInstallMessageHandler(nullptr);
    EXPECT_EQ(takeLog(),
              (std::vector<std::string>{"Arguments provided: (\"lampwatch\", \"2000\") ",
                                        "Arguments provided: (\"lampwatch\", \"-5\") "}));
}

TEST(LampwatchArguments, an_interval_that_is_no_number_or_0_is_refused_without_a_line) {
    logged.clear();
    qInstallMessageHandler(keepDebugLine);
    for (const char* argument : {"fast", "0", "--help", "", "1.5"})
        EXPECT_EQ(
            lampwatch::pollInterval({QStringLiteral("lampwatch"), QString::fromLatin1(argument)}),
            std::nullopt)
            << argument;
    qInstallMessageHandler(nullptr);
    EXPECT_TRUE(takeLog().empty());
}

TEST(LampwatchArguments, no_argument_or_more_than_one_give_5000_without_a_line) {
    logged.clear();
    qInstallMessageHandler(keepDebugLine);
    EXPECT_EQ(lampwatch::pollInterval({QStringLiteral("lampwatch")}), 5000);
    EXPECT_EQ(lampwatch::pollInterval(
                  {QStringLiteral("lampwatch"), QStringLiteral("2000"), QStringLiteral("extra")}),
              5000);
    qInstallMessageHandler(nullptr);
    EXPECT_TRUE(takeLog().empty());
}
