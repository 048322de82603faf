// Start-up of the server: its order, its command line and a port that is taken.
#include <gtest/gtest.h>

#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>

#include <string>
#include <vector>

#include "server.h"
#include "server_harness.h"

namespace {

using namespace servertest;

const QByteArray kAlive("\x00\x00\x00\x04\x00\x00\x00\x01", 8);

// A board and its folder for a Server that builds its own FPGA object.
struct Board {
    Board() : model([this](const std::string& line) { trace.add(line); }), device(model) {}

    keylight::ServerPaths paths() const {
        keylight::ServerPaths paths;
        paths.settingsFile = dir.filePath(QStringLiteral("launcher.cfg"));
        paths.fontDirectory = dir.filePath(QStringLiteral("fonts"));
        paths.levelFile = dir.filePath(QStringLiteral("buttonlevel"));
        return paths;
    }

    TraceLog trace;
    panelsim::FpgaModel model;
    panelsim::InProcessDevice device;
    QTemporaryDir dir;
};

TEST(Startup, the_blackout_of_all_screens_is_the_first_task_and_precedes_every_client_task) {
    Board board;
    keylight::Server server(board.paths());
    ASSERT_TRUE(server.start({"keylight", "map", "127.0.0.1", "0"}));
    Client client(server.listeningPort());
    client.send(frame(ledButtonStateRecord(3, 1, 0)) + frame(queryRecord()));
    ASSERT_EQ(client.receive(8), kAlive);
    ASSERT_TRUE(board.trace.waitForCount("W 0900 6300", 1));

    const std::vector<std::string> lines = board.trace.lines();
    size_t firstBurst = lines.size();
    size_t firstLed = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (firstBurst == lines.size() && lines[i].rfind("B ", 0) == 0) {
            firstBurst = i;
        }
        if (firstLed == lines.size() && lines[i].rfind("W 0900 ", 0) == 0) {
            firstLed = i;
        }
    }
    ASSERT_LT(firstBurst, lines.size());
    EXPECT_EQ(lines[firstBurst].substr(0, 13), "B 0A0F 16384 ") << "all three screens, one burst";
    EXPECT_LT(firstBurst, firstLed);
}

TEST(Startup, without_a_map_file_it_refuses_to_start) {
    Board board;
    keylight::Server server(board.paths());
    QtLog::clear();
    EXPECT_FALSE(server.start({"keylight"}));
    EXPECT_TRUE(QtLog::contains("keylight:map file must be specified as first argument!!!"));
    EXPECT_EQ(server.listeningPort(), 0);
}

TEST(Startup, a_port_that_is_no_number_means_a_port_the_system_chooses) {
    Board board;
    keylight::Server server(board.paths());
    ASSERT_TRUE(server.start({"keylight", "map", "127.0.0.1", "port"}));
    ASSERT_NE(server.listeningPort(), 0);
    ASSERT_NE(server.listeningPort(), 3003);
    Client client(server.listeningPort());
    client.send(frame(queryRecord()));
    EXPECT_EQ(client.receive(8), kAlive);
}

TEST(Startup, a_port_that_is_taken_is_reported_and_the_server_keeps_running) {
    Board board;
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    keylight::Server server(board.paths());
    StdoutCapture out;
    ASSERT_TRUE(server.start(
        {"keylight", "map", "127.0.0.1", QString::number(squatter.serverPort())}));
    EXPECT_EQ(out.finish(), "keylight:reconfig \nkeylight:failed to start server\n");
}

// The real program, with no device present: it still starts and handles its command line.
class Program : public testing::Test {
protected:
    ~Program() override {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // In a cross build the program runs under the target's emulator.
    void start(QStringList arguments) {
        QString program = QStringLiteral(KEYLIGHT_BINARY);
        const QString emulator = QStringLiteral(PANEL_TARGET_EMULATOR);
        if (!emulator.isEmpty()) {
            arguments.prepend(program);
            program = emulator;
        }
        process.start(program, arguments);
    }

    QProcess process;
};

TEST_F(Program, without_arguments_prints_the_critical_message_and_exits_with_1) {
    start({});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains(
        "keylight:map file must be specified as first argument!!!\n"));
}

TEST_F(Program, with_help_prints_its_usage_line_and_exits_with_0) {
    process.start(QStringLiteral(KEYLIGHT_BINARY), {"--help"});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().startsWith("usage: keylight MAPFILE [ADDRESS [PORT]]"));
}

TEST_F(Program, with_its_port_taken_prints_the_failure_and_keeps_running) {
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    start({"map", "127.0.0.1", QString::number(squatter.serverPort())});
    ASSERT_TRUE(process.waitForStarted(20000));
    QByteArray output;
    while (!output.contains("keylight:failed to start server\n") &&
           process.waitForReadyRead(20000)) {
        output += process.readAllStandardOutput();
    }
    EXPECT_TRUE(output.contains("keylight:failed to start server\n")) << output.constData();
    EXPECT_EQ(process.state(), QProcess::Running) << "the event loop runs without a server";
}

}  // namespace
