// keylight under load on the virtual panel: a panelsim daemon of its own on a fresh ROOT,
// panelprime, then keylight under panelsim-run, driven over TCP by client threads. Prints one
// table: throughput for 1, 8 and 50 clients; the delay of a quiet client's LED change while
// another client floods text lines; keylight's resident memory around two floods; keylight's
// own CPU time per message of each kind; connections per second, a burst of 500 connections,
// and keylight's CPU time while it is out of descriptors.
//
//   build/bench/bench_load
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "klmframe.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FLOOD_TIME = std::chrono::seconds(8);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "bench_load: %s\n", why.c_str());
    std::exit(1);
}

// ---- records, in network order as a client sends them --------------------------------------

std::string frame(const std::vector<uint8_t>& record) {
    std::vector<uint8_t> out;
    klm_append_frame(out, record);
    return std::string(out.begin(), out.end());
}

std::string statusIndicator(int id, int state) {
    return frame(klm_record_of<KLM_SetLEDStatusIndicator>(id, state));
}

std::string buttonLed(int id, int state) {
    return frame(klm_record_of<KLM_SetLEDButtonState>(id, state, 0));
}

std::string query() {
    return frame(klm_query_record());
}

std::string textLine(int screen, int line, const std::string& text) {
    return frame(
        klm_tailed_record_of<KLM_TextLine>(text.c_str(), text.size() + 1, screen, line, 0));
}

// A side x side picture, a 24-bit BMP file (side a multiple of 4: rows need no padding).
std::string picture(int screen, int x, int y, int side) {
    const uint32_t pixelBytes = static_cast<uint32_t>(side * side * 3);
    std::vector<uint8_t> bmp(54 + pixelBytes, 0x5A);
    const auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            bmp[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put(2, static_cast<uint32_t>(bmp.size()), 4);
    put(6, 0, 4);
    put(10, 54, 4);  // pixel data offset
    put(14, 40, 4);  // information header size
    put(18, static_cast<uint32_t>(side), 4);
    put(22, static_cast<uint32_t>(side), 4);
    put(26, 1, 2);   // colour planes
    put(28, 24, 2);  // bits per pixel
    put(30, 0, 4);   // no compression
    put(34, pixelBytes, 4);
    put(38, 0, 16);
    put(42, 0, 4);
    put(46, 0, 4);
    put(50, 0, 4);
    return frame(klm_tailed_record_of<KLM_DrawTFTImage>(bmp.data(), bmp.size(), screen, x, y));
}

// ---- sockets -------------------------------------------------------------------------------

int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

// Sends what TCP takes of bytes until the deadline; returns the bytes sent.
size_t sendUntil(int fd, const std::string& bytes, Clock::time_point deadline) {
    size_t at = 0;
    while (at < bytes.size() && Clock::now() < deadline) {
        pollfd watch{fd, POLLOUT, 0};
        if (poll(&watch, 1, 20) <= 0)
            continue;
        const ssize_t n =
            send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            if (errno == EAGAIN)
                continue;
            break;
        }
        at += static_cast<size_t>(n);
    }
    return at;
}

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::string httpGet(int port, const std::string& path) {
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    sendAll(fd, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    close(fd);
    return answer;
}

// ---- processes -----------------------------------------------------------------------------

pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A panelsim daemon on a fresh ROOT with keylight (after panelprime) on a free port.
class Board {
public:
    Board() {
        char name[] = "/tmp/bench-load-XXXXXX";
        if (mkdtemp(name) == nullptr)
            fail("no temporary folder");
        root = name;
        for (const char* dir :
             {"/etc", "/etc/tesserax", "/opt", "/opt/tesserax", "/opt/tesserax/fonts"}) {
            mkdir((root + dir).c_str(), 0755);
        }
        symlink(PANEL_X11_FONT_DIR "/8x13.pcf.gz",
                (root + "/opt/tesserax/fonts/8x13.pcf.gz").c_str());
        std::ofstream(root + "/etc/tesserax/launcher.cfg") << "[font]\nwidth=8\nheight=13\n";

        daemon = spawn({PANELSIM, root, "--http", "127.0.0.1:0"}, root + "/panelsim.log");
        const std::string ready = "panelsim: ready http://127.0.0.1:";
        for (int i = 0;
             i < 400 && readFile(root + "/panelsim.log").find(ready) == std::string::npos; ++i)
            sleepMs(25);
        const std::string log = readFile(root + "/panelsim.log");
        const size_t at = log.find(ready);
        if (at == std::string::npos)
            fail("panelsim did not get ready");
        httpPort = std::atoi(log.c_str() + at + ready.size());

        const pid_t prime = spawn({PANELSIM_RUN, root, PANELPRIME}, root + "/panelprime.log");
        waitpid(prime, nullptr, 0);

        port = freePort();
        keylight = spawn({PANELSIM_RUN, root, KEYLIGHT, "map", "127.0.0.1", std::to_string(port)},
                         "/dev/null");
        for (int i = 0; i < 400; ++i) {
            const int fd = connectTo(port);
            if (fd >= 0) {
                close(fd);
                return;
            }
            sleepMs(25);
        }
        fail("keylight did not start listening");
    }

    ~Board() {
        stop(keylight);
        stop(daemon);
        std::system(("rm -rf '" + root + "'").c_str());
    }

    // Register accesses the board has executed so far.
    long accesses() const {
        const std::string state = httpGet(httpPort, "/api/state");
        const size_t at = state.find("\"accesses\":");
        return at == std::string::npos ? -1 : std::atol(state.c_str() + at + 11);
    }

    // Waits until the board has executed count accesses; false after 120 s.
    bool waitForAccesses(long count) const {
        for (const auto start = Clock::now(); secondsSince(start) < 120; sleepMs(5)) {
            if (accesses() >= count)
                return true;
        }
        return false;
    }

    // Waits until the board and keylight have been idle for 300 ms. keylight's CPU time counts
    // too: connections still waiting to be accepted, or messages that change nothing on the
    // board, keep it busy without a register access.
    void waitUntilIdle() const {
        long last = accesses();
        double lastCpu = keylightCpuSeconds();
        for (int quiet = 0; quiet < 3;) {
            sleepMs(100);
            const long now = accesses();
            const double cpu = keylightCpuSeconds();
            quiet = now == last && cpu - lastCpu < 0.015 ? quiet + 1 : 0;
            last = now;
            lastCpu = cpu;
        }
    }

    long keylightResidentKiB() const {
        std::ifstream status("/proc/" + std::to_string(keylight) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atol(line.c_str() + 6);
        }
        return -1;
    }

    // User and system CPU time keylight has used so far.
    double keylightCpuSeconds() const {
        const std::string stat = readFile("/proc/" + std::to_string(keylight) + "/stat");
        // The fields after the command name, which is in parentheses and may hold spaces.
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i < 14; ++i)
            fields >> field;
        unsigned long long user = 0;
        unsigned long long system = 0;
        fields >> user >> system;
        return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    std::string root;
    pid_t daemon = -1;
    pid_t keylight = -1;
    int httpPort = 0;
    int port = 0;
};

// New lines of ROOT/trace.log as they come.
class TraceTail {
public:
    explicit TraceTail(const std::string& path) : _fd(open(path.c_str(), O_RDONLY)) {
        lseek(_fd, 0, SEEK_END);
    }
    ~TraceTail() { close(_fd); }

    // Waits (at most 30 s) until a line ending in suffix appears.
    bool waitFor(const std::string& suffix) {
        for (const auto start = Clock::now(); secondsSince(start) < 30;) {
            char buffer[65536];
            const ssize_t n = read(_fd, buffer, sizeof buffer);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            _pending.append(buffer, static_cast<size_t>(n));
            size_t begin = 0;
            for (size_t end; (end = _pending.find('\n', begin)) != std::string::npos;
                 begin = end + 1) {
                if (end - begin >= suffix.size() &&
                    _pending.compare(end - suffix.size(), suffix.size(), suffix) == 0) {
                    _pending.erase(0, end + 1);
                    return true;
                }
            }
            _pending.erase(0, begin);
        }
        return false;
    }

private:
    int _fd;
    std::string _pending;
};

// ---- measurements --------------------------------------------------------------------------

// Status indicator messages of `clients` connections at once, until the board has executed
// them all.
double messagesPerSecond(const Board& board, int clients, int total, double accessesPerMessage) {
    const int each = total / clients;
    std::string batch;
    for (int i = 0; i < each; ++i)
        batch += statusIndicator(i % 30, i % 2);
    board.waitUntilIdle();
    const long before = board.accesses();
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            const int fd = connectTo(board.port);
            sendAll(fd, batch);
            close(fd);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const long expected = before + static_cast<long>(accessesPerMessage * each * clients + 0.5);
    if (!board.waitForAccesses(expected))
        fail("messages missing on the board");
    return each * clients / secondsSince(start);
}

double accessesPerStatusMessage(const Board& board) {
    board.waitUntilIdle();
    const long before = board.accesses();
    const int fd = connectTo(board.port);
    std::string batch;
    for (int i = 0; i < 100; ++i)
        batch += statusIndicator(i % 30, i % 2);
    sendAll(fd, batch);
    close(fd);
    board.waitUntilIdle();
    return static_cast<double>(board.accesses() - before) / 100.0;
}

// A connection that writes text lines as fast as TCP takes them until stopped.
class TextFlood {
public:
    explicit TextFlood(int port) : _fd(connectTo(port)) {
        std::string chunk;
        for (int i = 0; i < 200; ++i)
            chunk += textLine(i % 3, i % 9, "Flooding line " + std::to_string(i));
        _lines = 200;
        _thread = std::thread([this, chunk] {
            while (!_stop &&
                   sendUntil(_fd, chunk, Clock::now() + std::chrono::seconds(1)) == chunk.size()) {
                _sent += _lines;
            }
        });
    }
    ~TextFlood() { finish(); }
    long finish() {
        _stop = true;
        if (_thread.joinable())
            _thread.join();
        if (_fd >= 0)
            close(_fd);
        _fd = -1;
        return _sent;
    }

private:
    int _fd;
    int _lines;
    std::atomic<bool> _stop{false};
    std::atomic<long> _sent{0};
    std::thread _thread;
};

struct Delays {
    double p50Ms, p99Ms, maxMs;
    int samples;
};

Delays quietDelays(const Board& board) {
    board.waitUntilIdle();
    TraceTail trace(board.root + "/trace.log");
    TextFlood flood(board.port);
    sleepMs(1000);
    const int quiet = connectTo(board.port);
    std::vector<double> delays;
    for (int i = 0; i < 100; ++i) {
        const bool lit = i % 2 == 0;
        const auto start = Clock::now();
        sendAll(quiet, buttonLed(7, lit ? 1 : 0));
        if (!trace.waitFor(lit ? " W 0900 6700" : " W 0900 4700"))
            fail("the quiet LED change never came");
        delays.push_back(secondsSince(start) * 1000);
        sleepMs(40);
    }
    close(quiet);
    flood.finish();
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) {
        return delays[std::min(delays.size() - 1,
                               static_cast<size_t>(q * static_cast<double>(delays.size())))];
    };
    return {at(0.5), at(0.99), delays.back(), static_cast<int>(delays.size())};
}

struct Memory {
    long beforeKiB, peakKiB, afterKiB;
    long messages;
};

void printMemoryRow(const char* flood, const char* sent, const Memory& memory) {
    std::printf("| %s (%ld %s sent) | resident %ld KiB before, %ld KiB peak, %ld KiB after |\n",
                flood, memory.messages, sent, memory.beforeKiB, memory.peakKiB, memory.afterKiB);
    std::fflush(stdout);
}

// Samples keylight's resident memory while flood() runs on its own thread for FLOOD_TIME.
template <typename Flood>
Memory memoryAround(const Board& board, Flood flood) {
    board.waitUntilIdle();
    Memory memory{board.keylightResidentKiB(), 0, 0, 0};
    std::atomic<bool> running{true};
    std::thread sampler([&] {
        while (running) {
            memory.peakKiB = std::max(memory.peakKiB, board.keylightResidentKiB());
            sleepMs(50);
        }
    });
    memory.messages = flood();
    running = false;
    sampler.join();
    board.waitUntilIdle();
    memory.afterKiB = board.keylightResidentKiB();
    return memory;
}

long unreadQueries(const Board& board) {
    const int fd = connectTo(board.port);
    const int window = 16 * 1024;  // the peer never reads: its window stays small
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    std::string chunk;
    for (int i = 0; i < 4096; ++i)
        chunk += query();
    size_t sent = 0;
    for (const auto deadline = Clock::now() + FLOOD_TIME; Clock::now() < deadline;) {
        sent += sendUntil(fd, chunk, deadline);
    }
    close(fd);
    return static_cast<long>(sent / 8);
}

long textLines(const Board& board) {
    TextFlood flood(board.port);
    std::this_thread::sleep_for(FLOOD_TIME);
    return flood.finish();
}

// keylight's own CPU time (user and system, all its threads, the virtual panel's device layer
// in it included) per message, for `count` copies of `message` from one client: from the first
// byte sent until keylight and the board are idle again. A query closes the batch, so that
// its answer says keylight has read everything; every answer is read as it comes.
double cpuMicrosecondsPerMessage(const Board& board, const std::string& message, int count) {
    board.waitUntilIdle();
    std::string batch;
    batch.reserve(message.size() * static_cast<size_t>(count) + 8);
    for (int i = 0; i < count; ++i)
        batch += message;
    batch += query();
    const size_t answerBytes = 8 * (message == query() ? static_cast<size_t>(count) + 1 : 1);
    const int fd = connectTo(board.port);
    const double before = board.keylightCpuSeconds();
    std::thread reader([fd, answerBytes] {
        char buffer[65536];
        size_t got = 0;
        for (ssize_t n; got < answerBytes && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            got += static_cast<size_t>(n);
    });
    sendAll(fd, batch);
    reader.join();
    close(fd);
    board.waitUntilIdle();
    return (board.keylightCpuSeconds() - before) * 1e6 / count;
}

struct Churn {
    double perSecond;
    double slowestMs;
};

// Connect, one message, close, one after the other for 3 s.
Churn connectMessageClose(const Board& board) {
    board.waitUntilIdle();
    const std::string message = statusIndicator(3, 1);
    double slowest = 0;
    int done = 0;
    const auto start = Clock::now();
    while (secondsSince(start) < 3) {
        const auto begin = Clock::now();
        const int fd = connectTo(board.port);
        if (fd < 0)
            fail("connection refused");
        sendAll(fd, message);
        close(fd);
        slowest = std::max(slowest, secondsSince(begin) * 1000);
        ++done;
    }
    return {done / secondsSince(start), slowest};
}

// 500 connections opened back to back and kept open, one message each.
Churn burstOf500(const Board& board) {
    board.waitUntilIdle();
    const std::string message = statusIndicator(4, 1);
    std::vector<int> fds;
    double slowest = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 500; ++i) {
        const auto begin = Clock::now();
        const int fd = connectTo(board.port);
        if (fd < 0)
            fail("connection refused in the burst");
        sendAll(fd, message);
        fds.push_back(fd);
        slowest = std::max(slowest, secondsSince(begin) * 1000);
    }
    const double rate = 500 / secondsSince(start);
    for (int fd : fds)
        close(fd);
    return {rate, slowest};
}

struct Starved {
    double cpuSeconds;
    double wallSeconds;
    bool servedAfter;
};

// keylight held to 128 descriptors while 190 connections wait, for 3 s; then the connections
// close, the limit goes back, and one more connection sends a message.
Starved outOfDescriptors(const Board& board) {
    board.waitUntilIdle();
    rlimit old{};
    if (prlimit(board.keylight, RLIMIT_NOFILE, nullptr, &old) != 0)
        fail("cannot read keylight's descriptor limit");
    const rlimit low{128, old.rlim_max};
    if (prlimit(board.keylight, RLIMIT_NOFILE, &low, nullptr) != 0)
        fail("cannot lower keylight's descriptor limit");
    std::vector<int> fds;
    for (int i = 0; i < 190; ++i) {
        const int fd = connectTo(board.port);
        if (fd < 0)
            fail("connection refused while keylight is out of descriptors");
        fds.push_back(fd);
    }
    sleepMs(500);
    const double cpuBefore = board.keylightCpuSeconds();
    const auto start = Clock::now();
    sleepMs(3000);
    const Starved starved{board.keylightCpuSeconds() - cpuBefore, secondsSince(start), false};
    for (int fd : fds)
        close(fd);
    prlimit(board.keylight, RLIMIT_NOFILE, &old, nullptr);

    const long before = board.accesses();
    const int fd = connectTo(board.port);
    const bool served =
        fd >= 0 && sendAll(fd, statusIndicator(5, 1)) && board.waitForAccesses(before + 1);
    if (fd >= 0)
        close(fd);
    return {starved.cpuSeconds, starved.wallSeconds, served};
}

}  // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);
    Board board;
    const double perMessage = accessesPerStatusMessage(board);
    if (perMessage <= 0)
        fail("status messages do not reach the board");

    std::printf("| case | measured |\n|---|---|\n");
    std::fflush(stdout);
    for (int clients : {1, 8, 50}) {
        std::printf("| sustained status indicator messages, %d client%s | %.0f messages/s |\n",
                    clients, clients == 1 ? "" : "s",
                    messagesPerSecond(board, clients, 40000, perMessage));
        std::fflush(stdout);
    }
    const Delays delays = quietDelays(board);
    std::printf(
        "| quiet client's LED change while another floods text lines (%d changes) | p50 %.1f ms, "
        "p99 %.1f ms, max %.1f ms |\n",
        delays.samples, delays.p50Ms, delays.p99Ms, delays.maxMs);
    std::fflush(stdout);

    printMemoryRow("queries for 8 s, answers never read", "queries",
                   memoryAround(board, [&] { return unreadQueries(board); }));
    printMemoryRow("text lines for 8 s as fast as TCP takes them", "lines",
                   memoryAround(board, [&] { return textLines(board); }));

    struct Kind {
        const char* name;
        std::string message;
        int count;
    };
    const Kind kinds[] = {
        {"button LED", buttonLed(3, 1), 20000},
        {"status indicator", statusIndicator(3, 1), 20000},
        {"text line (16 characters)", textLine(1, 2, "Tesserax panel 1"), 5000},
        {"picture (32 x 32 BMP)", picture(2, 40, 40, 32), 1000},
        {"query", query(), 50000},
    };
    for (const Kind& kind : kinds) {
        std::printf("| keylight's own CPU per message: %d %s messages, one client | %.1f us |\n",
                    kind.count, kind.name,
                    cpuMicrosecondsPerMessage(board, kind.message, kind.count));
        std::fflush(stdout);
    }

    const Churn churn = connectMessageClose(board);
    std::printf(
        "| connect + message + close, one after the other | %.0f per second, slowest %.1f ms |\n",
        churn.perSecond, churn.slowestMs);
    const Churn burst = burstOf500(board);
    std::printf(
        "| 500 connections opened back to back, one message each, kept open | %.0f per second, "
        "slowest connect %.1f ms |\n",
        burst.perSecond, burst.slowestMs);
    std::fflush(stdout);
    const Starved starved = outOfDescriptors(board);
    std::printf(
        "| keylight out of descriptors (soft limit 128, 190 connections waiting) | %.2f s of CPU "
        "in %.1f s; a new connection afterwards %s |\n",
        starved.cpuSeconds, starved.wallSeconds,
        starved.servedAfter ? "is served" : "is NOT served");
    return 0;
}
