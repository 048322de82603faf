// Start-up of the server: its order, its command line and a port that is taken; its stop on
// SIGTERM and the watchdog it feeds.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server.h"
#include "server_harness.h"
#include "servicemanager.h"

namespace {

using namespace servertest;

const QByteArray ALIVE("\x00\x00\x00\x04\x00\x00\x00\x01", 8);

// A board and its folder for a Server that builds its own FPGA object.
struct Board {
    // access, when given, is called at each register access before it is traced.
    explicit Board(std::function<void()> access = {})
        : model([this, access](const std::string& line) {
              if (access) {
                  access();
              }
              trace.add(line);
          }),
          device(model) {}

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
    ASSERT_EQ(client.receive(8), ALIVE);
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
    EXPECT_EQ(client.receive(8), ALIVE);
}

TEST(Startup, a_port_that_is_taken_is_reported_and_the_server_keeps_running) {
    Board board;
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    keylight::Server server(board.paths());
    StdoutCapture out;
    ASSERT_TRUE(
        server.start({"keylight", "map", "127.0.0.1", QString::number(squatter.serverPort())}));
    EXPECT_EQ(out.finish(), "keylight:reconfig \nkeylight:failed to start server\n");
}

void runEventLoopFor(int msecs) {
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
}

// Without the socket unit: keylight's own listen queue ends with it.
TEST(
    Stopping,
    every_frame_sent_before_reaches_the_board_also_from_the_listen_queue_and_a_later_connection_is_refused) {
    Board board;
    keylight::Server server(board.paths());
    ASSERT_TRUE(server.start({"keylight", "map", "127.0.0.1", "0"}));
    Client client(server.listeningPort());
    client.send(frame(queryRecord()));
    ASSERT_EQ(client.receive(8), ALIVE);
    QtLog::clear();
    // Unread in the connection when the stop begins.
    QByteArray frames;
    for (int i = 0; i < 100; ++i) {
        frames += frame(ledButtonStateRecord(3, 1, 0)) + frame(ledButtonStateRecord(3, 0, 0));
    }
    client.send(frames);
    // Connected by the system, not accepted yet: the event loop has not run since.
    Client waiting(server.listeningPort());
    waiting.send(frame(ledButtonStateRecord(5, 1, 0)));

    const quint16 port = server.listeningPort();
    server.stop();
    Client late(port);
    late.send(frame(ledButtonStateRecord(4, 1, 0)));
    EXPECT_EQ(QCoreApplication::exec(), 0);

    EXPECT_EQ(board.trace.count("W 0900 6300"), 100u);
    EXPECT_EQ(board.trace.count("W 0900 4300"), 100u);
    EXPECT_EQ(board.trace.count("W 0900 6500"), 1u);
    EXPECT_EQ(board.trace.count("W 0900 6400"), 0u);
    EXPECT_EQ(late.socket.state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(QtLog::countStartingWith(QStringLiteral("keylight: new client")), 1)
        << "the connection waiting at the stop, not the later one";
    const QStringList stopped = QtLog::lines().filter(QStringLiteral("stopped on SIGTERM"));
    ASSERT_EQ(stopped.size(), 1);
    EXPECT_TRUE(stopped.first().startsWith(QStringLiteral("keylight: stopped on SIGTERM in ")));
    EXPECT_TRUE(stopped.first().endsWith(QStringLiteral(
        " ms: the connections waiting at the stop accepted, later ones refused, all that the "
        "connections sent read, all hardware work done")))
        << stopped.first().toStdString();
}

// Whether this process still has the thread tid. A thread count would also see the threads
// that ThreadSanitizer or qemu-arm start and end on their own.
bool threadAlive(pid_t tid) {
    return QFile::exists(QStringLiteral("/proc/self/task/%1").arg(tid));
}

TEST(Stopping,
     with_the_worker_held_by_a_device_that_does_not_answer_it_ends_and_says_what_was_left) {
    Gate gate;
    std::atomic<pid_t> accessing{0};
    Board board([&gate, &accessing] {
        accessing = gettid();
        gate.pass();
    });
    pid_t worker = 0;
    {
        keylight::Server server(board.paths());
        ASSERT_TRUE(server.start({"keylight", "map", "127.0.0.1", "0"}));
        Client client(server.listeningPort());
        client.send(frame(ledButtonStateRecord(5, 1, 0)));
        ASSERT_TRUE(processUntil([&] { return board.trace.count("W 0900 6500") == 1; }));
        gate.close();
        client.send(frame(ledButtonStateRecord(3, 1, 0)) + frame(ledButtonStateRecord(4, 1, 0)));
        ASSERT_TRUE(processUntil([] { return keylight::FPGA::waitsForDevice(); }));
        worker = accessing;
        QtLog::clear();
        server.stop();
        EXPECT_EQ(QCoreApplication::exec(), 0);
    }
    const QStringList lines = QtLog::lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("keylight: stopped on SIGTERM after ")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(
        " ms: the connections waiting at the stop accepted, later ones refused, 0 connections "
        "still sending, 2 hardware tasks left undone")))
        << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("keylight: the worker is still waiting for register device "
                                       "\"/dev/fpga-reg\" after 2 s: 2 hardware tasks left "
                                       "undone"));
    // The device answers at last: the worker left behind ends without touching what is gone.
    gate.open();
    EXPECT_TRUE(processUntil([&] { return !threadAlive(worker); }));
    EXPECT_EQ(board.trace.count("W 0900 6300"), 1u);
    EXPECT_EQ(board.trace.count("W 0900 6400"), 0u);
}

TEST(Watchdog, hears_that_keylight_lives_also_while_the_device_does_not_answer) {
    Panel panel;
    panel.drain();
    NotifySocket systemd;
    setenv("WATCHDOG_USEC", "200000", 1);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    keylight::Watchdog watchdog(panel.fpga.get());
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    QStringList told;
    ASSERT_TRUE(processUntil([&] {
        told += systemd.messages();
        return told.size() >= 3;
    }));
    EXPECT_EQ(told.count(QStringLiteral("WATCHDOG=1")), told.size());

    // A new keylight would find the device as stalled as this one does.
    panel.holdWorker();
    QtLog::clear();
    panel.fpga->setLEDButtonState(3, 1);
    ASSERT_TRUE(processUntil([&] {
        return panel.fpga->stalledFor() > std::chrono::milliseconds(600) &&
               keylight::FPGA::waitsForDevice();
    }));
    systemd.messages();
    runEventLoopFor(500);
    told = systemd.messages();
    EXPECT_GE(told.size(), 2);
    EXPECT_EQ(told.count(QStringLiteral("WATCHDOG=1")), told.size());
    EXPECT_EQ(QtLog::lines(), QStringList());
    panel.releaseWorker();
}

// The real program, with no device present: it still starts and handles its command line.
// It is started with fork and exec rather than QProcess, whose clone qemu-arm refuses (EINVAL)
// when the tests run under the target's emulator.
class Program : public testing::Test {
protected:
    ~Program() override {
        if (_pid > 0 && !finished()) {
            kill(_pid, SIGKILL);
            waitpid(_pid, &_status, 0);
        }
    }

    // In a cross build the program runs under the target's emulator. passed, when given, is
    // handed over as systemd hands over a socket: descriptor 3, announced to the program's
    // process by LISTEN_PID and LISTEN_FDS, which a shell sets as only it knows the pid.
    void start(const std::vector<std::string>& arguments, int passed = -1) {
        std::vector<std::string> words;
        if (passed >= 0) {
            words = {"/bin/sh", "-c", "LISTEN_PID=$$ LISTEN_FDS=1 exec \"$@\"", "sh"};
        }
        std::istringstream emulator(PANEL_TARGET_EMULATOR);
        for (std::string word; emulator >> word;) {
            words.push_back(word);
        }
        words.push_back(KEYLIGHT_BINARY);
        words.insert(words.end(), arguments.begin(), arguments.end());
        // Everything the child needs is made before fork: another thread may hold the
        // allocator's lock at that moment.
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const std::string out = outPath();
        const std::string err = errPath();
        _pid = fork();
        if (_pid == 0) {
            if (passed >= 0) {
                dup2(passed, 3);
            }
            dup2(open("/dev/null", O_RDONLY), 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_GT(_pid, 0) << "fork failed";
    }

    bool finished() { return _exited || (_exited = waitpid(_pid, &_status, WNOHANG) == _pid); }

    // Polls until condition holds; false when it still does not after 20 s.
    static bool waitFor(const std::function<bool()>& condition) {
        QDeadlineTimer patience(20000);
        while (!condition()) {
            if (patience.hasExpired()) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    bool waitForFinished() {
        return waitFor([this] { return finished(); });
    }

    // Waits until the program has printed text on standard output or has ended.
    bool waitForOutput(const QByteArray& text) {
        return waitFor([&] { return standardOutput().contains(text) || finished(); }) &&
               standardOutput().contains(text);
    }

    bool exitedNormally() const { return _exited && WIFEXITED(_status); }
    int exitCode() const { return WEXITSTATUS(_status); }
    QByteArray standardOutput() const { return contents(outPath()); }
    QByteArray standardError() const { return contents(errPath()); }

private:
    std::string outPath() const { return _dir.filePath(QStringLiteral("out")).toStdString(); }
    std::string errPath() const { return _dir.filePath(QStringLiteral("err")).toStdString(); }

    static QByteArray contents(const std::string& path) {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir _dir;
    pid_t _pid = -1;
    int _status = 0;
    bool _exited = false;
};

TEST_F(Program, without_arguments_prints_the_critical_message_and_exits_with_1) {
    start({});
    ASSERT_TRUE(waitForFinished());
    EXPECT_TRUE(exitedNormally());
    EXPECT_EQ(exitCode(), 1);
    EXPECT_TRUE(
        standardError().contains("keylight:map file must be specified as first argument!!!\n"));
}

TEST_F(Program, with_help_prints_its_usage_line_and_exits_with_0) {
    start({"--help"});
    ASSERT_TRUE(waitForFinished());
    EXPECT_TRUE(exitedNormally());
    EXPECT_EQ(exitCode(), 0);
    EXPECT_TRUE(standardOutput().startsWith("usage: keylight MAPFILE [ADDRESS [PORT]]"));
}

TEST_F(Program, handed_a_socket_it_cannot_serve_names_it_and_exits_with_1) {
    const int datagram = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(datagram, 0);
    start({"map", "127.0.0.1", "0"}, datagram);
    close(datagram);
    ASSERT_TRUE(waitForFinished()) << "it neither serves nor tries again";
    EXPECT_TRUE(exitedNormally());
    EXPECT_EQ(exitCode(), 1);
    EXPECT_TRUE(standardError().contains(
        "keylight: socket 1 of the 1 that systemd passed is no listening TCP socket, and "
        "keylight serves only those: give keylight.socket ListenStream= lines of IPv4 and IPv6 "
        "addresses and ports only\n"))
        << standardError().constData();
    EXPECT_FALSE(standardOutput().contains("listening")) << standardOutput().constData();
}

TEST_F(Program, with_its_port_taken_prints_the_failure_and_keeps_running) {
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    start({"map", "127.0.0.1", std::to_string(squatter.serverPort())});
    EXPECT_TRUE(waitForOutput("keylight:failed to start server\n")) << standardOutput().constData();
    EXPECT_FALSE(finished()) << "the event loop runs without a server";
}

}  // namespace
