// keylight under load on the virtual panel: a panelsim daemon of its own on a fresh ROOT,
// panelprime, then keylight under panelsim-run, driven over TCP by client threads. Prints one
// table: throughput for 1, 8 and 50 clients; the delay of a quiet client's LED change while
// another client floods text lines; keylight's resident memory around two floods; keylight's
// own CPU time per message of each kind; connections per second, a burst of 500 connections,
// and keylight's CPU time while it is out of descriptors; keylight's peak memory while 600
// connections hold incomplete largest frames, while 600 send a picture at once and around
// floods of image uploads, and another client's query time meanwhile and behind type 0
// messages; its memory while the device stops answering and all buttons blink; and, one by one
// at 1 000 a second, keylight's CPU per message next to that of two servers run in the bench
// that read frames and answer queries, nothing else (a plain epoll one, the reference, and one
// on Qt's sockets), and next to one device round trip (device_probe).
//
//   build/bench/bench_load
//   BENCH_LOAD_KEYLIGHT=OTHER/keylight build/bench/bench_load   # another keylight build
//   build/bench/bench_load paced     # only the rows one by one, beside the references
//   build/bench/bench_load picture   # only the rows of keylight's picture of the panel
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
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

std::string uploadImage(int id) {
    KLM_UploadImage image{TYPE_UPLOAD_IMAGE, static_cast<uint32_t>(id), KLM_UPLOAD_IMAGE_BYTES, {}};
    for (uint8_t& byte : image._data)
        byte = static_cast<uint8_t>(id);
    return frame(klm_record(image));
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
    std::fill(bmp.begin() + 38, bmp.begin() + 54, 0);  // resolution and palette fields
    return frame(klm_tailed_record_of<KLM_DrawTFTImage>(bmp.data(), bmp.size(), screen, x, y));
}

// A 24-bit BMP picture that fills a screen, drawn at the top left of screen 0.
std::string screenPicture() {
    return picture(0, 0, 0, KLM_SCREEN_SIDE);
}

// A type 0 message of `size` bytes in all: its type and zero bytes.
std::string nullMessage(size_t size) {
    return frame(std::vector<uint8_t>(size, 0));
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

// A panelsim daemon on a fresh ROOT with keylight (after panelprime) on a free port; with
// picture, keylight keeps its picture of the panel in ROOT/run.
class Board {
public:
    explicit Board(bool picture = false) {
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
        const char* other = std::getenv("BENCH_LOAD_KEYLIGHT");
        if (picture) {
            mkdir((root + "/run").c_str(), 0755);
            setenv("RUNTIME_DIRECTORY", (root + "/run").c_str(), 1);
        } else {
            unsetenv("RUNTIME_DIRECTORY");
        }
        keylight = spawn({PANELSIM_RUN, root, other != nullptr ? other : KEYLIGHT, "map",
                          "127.0.0.1", std::to_string(port)},
                         "/dev/null");
        unsetenv("RUNTIME_DIRECTORY");
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

    // CPU per register read of device_probe beside keylight on this board, in mode.
    double deviceProbeMicroseconds(const char* mode, int count) const {
        const std::string output = root + "/device-probe.out";
        const pid_t probe =
            spawn({PANELSIM_RUN, root, DEVICE_PROBE, mode, std::to_string(count)}, output);
        int status = 0;
        waitpid(probe, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            fail("device_probe failed: " + readFile(output));
        return std::atof(readFile(output).c_str());
    }

    // Nanoseconds keylight's threads have run so far (schedstat: finer than stat's ticks).
    double keylightRunNanoseconds() const {
        const std::string tasks = "/proc/" + std::to_string(keylight) + "/task";
        DIR* dir = opendir(tasks.c_str());
        if (dir == nullptr)
            return 0;
        double total = 0;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                total += std::atof(readFile(tasks + "/" + entry->d_name + "/schedstat").c_str());
        }
        closedir(dir);
        return total;
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

// ---- the references: a plain epoll server and the least a Qt server does --------------------

// Takes the whole frames off the front of pending and returns the answers to the queries among
// them; other frames are only taken.
std::string answersToWholeFrames(std::string& pending) {
    static const std::string alive = {0, 0, 0, 4, 0, 0, 0, 1};
    std::string answers;
    size_t at = 0;
    while (pending.size() - at >= 8) {
        const auto word = [&](size_t offset) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(pending.data() + offset);
            return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
                   bytes[3];
        };
        const uint32_t length = word(at);
        if (pending.size() - at - 4 < length)
            break;
        if (length >= 4 && word(at + 4) == TYPE_QUERY)
            answers += alive;
        at += 4 + length;
    }
    pending.erase(0, at);
    return answers;
}

// Nanoseconds of CPU a thread has used so far.
double threadCpuNanoseconds(pthread_t thread) {
    clockid_t clock;
    timespec used{};
    if (pthread_getcpuclockid(thread, &clock) == 0)
        clock_gettime(clock, &used);
    return static_cast<double>(used.tv_sec) * 1e9 + static_cast<double>(used.tv_nsec);
}

// One thread, level-triggered epoll: per wake-up one read of what has come, and one write of
// the answers to the queries among the frames it completes. Other frames are only read.
class ReferenceServer {
public:
    ReferenceServer() {
        _listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(_listener, 16) != 0 ||
            getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            fail("the reference server cannot listen");
        port = ntohs(address.sin_port);
        _epoll = epoll_create1(EPOLL_CLOEXEC);
        _stop = eventfd(0, EFD_CLOEXEC);
        watch(_listener);
        watch(_stop);
        _thread = std::thread([this] { serve(); });
    }

    ~ReferenceServer() {
        const uint64_t one = 1;
        if (write(_stop, &one, sizeof one) != sizeof one)
            fail("the reference server cannot be stopped");
        _thread.join();
        for (const auto& connection : _connections)
            close(connection.first);
        close(_listener);
        close(_stop);
        close(_epoll);
    }

    // Nanoseconds of CPU the server's thread has used so far.
    double cpuNanoseconds() { return threadCpuNanoseconds(_thread.native_handle()); }

    int port = 0;

private:
    void watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(_epoll, EPOLL_CTL_ADD, fd, &event);
    }

    void serve() {
        epoll_event events[16];
        for (;;) {
            const int ready = epoll_wait(_epoll, events, 16, -1);
            for (int i = 0; i < ready; ++i) {
                const int fd = events[i].data.fd;
                if (fd == _stop)
                    return;
                if (fd == _listener) {
                    const int client =
                        accept4(_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (client >= 0) {
                        _connections[client];
                        watch(client);
                    }
                } else {
                    receive(fd);
                }
            }
        }
    }

    void receive(int fd) {
        std::string& pending = _connections[fd];
        char buffer[65536];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EAGAIN)
                return;
            close(fd);
            _connections.erase(fd);
            return;
        }
        pending.append(buffer, static_cast<size_t>(n));
        const std::string answers = answersToWholeFrames(pending);
        // A peer that has gone is seen at the next read.
        if (!answers.empty())
            send(fd, answers.data(), answers.size(), MSG_NOSIGNAL);
    }

    int _listener = -1;
    int _epoll = -1;
    int _stop = -1;
    std::map<int, std::string> _connections;
    std::thread _thread;
};

// Qt's sockets as keylight's connections use them, and nothing else: on every readyRead all
// that has come is read, and the answers to the queries among the frames it completes are
// written and flushed at once. A thread and an event loop of its own, Qt's dispatcher as
// keylight's (QT_NO_GLIB).
class QtReferenceServer {
public:
    QtReferenceServer() {
        _context.moveToThread(&_thread);
        _thread.start();
        inThread([this] { listen(); });
        if (port == 0)
            fail("the Qt reference server cannot listen");
    }

    ~QtReferenceServer() {
        inThread([this] { delete _server; });
        _thread.quit();
        _thread.wait();
    }

    double cpuNanoseconds() { return threadCpuNanoseconds(_native); }

    int port = 0;

private:
    template <typename Work>
    void inThread(Work work) {
        QMetaObject::invokeMethod(&_context, work, Qt::BlockingQueuedConnection);
    }

    void listen() {
        _native = pthread_self();
        _server = new QTcpServer;
        if (!_server->listen(QHostAddress::LocalHost, 0))
            return;
        port = _server->serverPort();
        QObject::connect(_server, &QTcpServer::newConnection, _server, [this] {
            while (QTcpSocket* socket = _server->nextPendingConnection())
                serve(socket);
        });
    }

    static void serve(QTcpSocket* socket) {
        auto pending = std::make_shared<std::string>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, pending] {
            const QByteArray data = socket->readAll();
            pending->append(data.constData(), static_cast<size_t>(data.size()));
            const std::string answers = answersToWholeFrames(*pending);
            if (!answers.empty()) {
                socket->write(answers.data(), static_cast<qint64>(answers.size()));
                socket->flush();
            }
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QThread _thread;
    QObject _context;
    QTcpServer* _server = nullptr;
    pthread_t _native{};
};

// `count` copies of `message` on one connection to port, one every millisecond; a query's
// answer is read before the next message. When every message is sent, a query says that
// all of them have been read.
void oneByOne(int port, const std::string& message, int count) {
    const int fd = connectTo(port);
    if (fd < 0)
        fail("no connection for messages one by one");
    const bool answered = message == query();
    char answer[8];
    const auto readAnswer = [&] {
        for (size_t got = 0; got < sizeof answer;) {
            const ssize_t n = recv(fd, answer + got, sizeof answer - got, 0);
            if (n <= 0)
                fail("no answer to a query");
            got += static_cast<size_t>(n);
        }
    };
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
        sendAll(fd, message);
        if (answered)
            readAnswer();
    }
    sendAll(fd, query());
    readAnswer();
    close(fd);
}

struct PerMessage {
    double keylightUs;
    double qtUs;
    double referenceUs;
};

// CPU per message one by one at 1 000 a second, keylight's (all its threads, its timers
// meanwhile included) and each reference's, one after the other.
PerMessage oneByOneCpu(const Board& board, QtReferenceServer& qt, ReferenceServer& reference,
                       const std::string& message, int count) {
    const auto perMessageUs = [&](int port, const std::function<double()>& cpuNanoseconds) {
        const double before = cpuNanoseconds();
        oneByOne(port, message, count);
        // The query's answer comes before keylight's worker may be done with the last message.
        sleepMs(20);
        return (cpuNanoseconds() - before) / 1e3 / count;
    };
    board.waitUntilIdle();
    return {perMessageUs(board.port, [&] { return board.keylightRunNanoseconds(); }),
            perMessageUs(qt.port, [&] { return qt.cpuNanoseconds(); }),
            perMessageUs(reference.port, [&] { return reference.cpuNanoseconds(); })};
}

// keylight's CPU per message one by one at 1 000 a second beside the references', for the
// messages a device's clients send that way, each against its goal: a query at most 1.5 times
// the plain server's, a message for the device at most the plain server's plus one device
// round trip plus 10 us. The round trip is device_probe's read back to back; its read handed
// to a sleeping thread once a millisecond shows what a hand-over to a worker costs on this
// machine, and the Qt server what Qt's sockets and dispatcher cost.
void pacedRows(const Board& board) {
    struct Kind {
        const char* name;
        std::string message;
        int count;
        bool forDevice;
    };
    QtReferenceServer qt;
    ReferenceServer reference;
    const double roundTrip = board.deviceProbeMicroseconds("back-to-back", 5000);
    const double handed = board.deviceProbeMicroseconds("handed", 5000);
    std::printf(
        "| one device round trip: 5000 register reads through panelsim back to back | %.1f us |\n",
        roundTrip);
    std::printf(
        "| the same read one a millisecond, each handed to a thread that sleeps until then | "
        "%.1f us: %.1f us more than the round trip |\n",
        handed, handed - roundTrip);
    const Kind paced[] = {
        {"query", query(), 5000, false},
        {"status indicator", statusIndicator(3, 1), 5000, true},
        {"button LED", buttonLed(3, 1), 5000, true},
    };
    for (const Kind& kind : paced) {
        const PerMessage cpu = oneByOneCpu(board, qt, reference, kind.message, kind.count);
        const double goal =
            kind.forDevice ? cpu.referenceUs + roundTrip + 10 : 1.5 * cpu.referenceUs;
        std::printf(
            "| CPU per message, %d %s messages one by one at 1 000 a second | keylight %.1f us, "
            "Qt's sockets alone %.1f us, a plain epoll server %.1f us: keylight %.2f x, %.1f us "
            "more; goal %.1f us %s |\n",
            kind.count, kind.name, cpu.keylightUs, cpu.qtUs, cpu.referenceUs,
            cpu.keylightUs / cpu.referenceUs, cpu.keylightUs - cpu.referenceUs, goal,
            cpu.keylightUs <= goal ? "met" : "NOT met");
        std::fflush(stdout);
    }
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

// ---- a device that stops answering ---------------------------------------------------------

struct Stalled {
    long beforeKiB, peakKiB;
    bool resumed;
};

// Every button blinking with 20 ms phases (a task per button and tick), panelsim stopped for
// 15 s with SIGSTOP, so that keylight's worker waits in a register request; then SIGCONT.
Stalled stalledDevice(const Board& board) {
    board.waitUntilIdle();
    const int fd = connectTo(board.port);
    TraceTail blinking(board.root + "/trace.log");
    if (fd < 0 || !sendAll(fd, frame(klm_record_of<KLM_SetLEDButtonState>(-1, -1, 20))) ||
        !blinking.waitFor(" W 0900 6000"))
        fail("the buttons do not blink");
    sleepMs(500);
    Stalled stalled{board.keylightResidentKiB(), 0, false};
    kill(board.daemon, SIGSTOP);
    for (const auto start = Clock::now(); secondsSince(start) < 15; sleepMs(50))
        stalled.peakKiB = std::max(stalled.peakKiB, board.keylightResidentKiB());
    TraceTail resumed(board.root + "/trace.log");
    kill(board.daemon, SIGCONT);
    stalled.resumed = resumed.waitFor(" W 0900 4000") && resumed.waitFor(" W 0900 6000");
    sendAll(fd, frame(klm_record_of<KLM_SetLEDButtonState>(-1, 0, 0)));
    close(fd);
    return stalled;
}

// Another client's alive query, asked every 20 ms on a connection of its own: the longest it
// waited for the answer.
class QueryProbe {
public:
    explicit QueryProbe(int port) : _fd(connectTo(port)) {
        if (_fd < 0)
            fail("the query probe cannot connect");
        _thread = std::thread([this] {
            const std::string ask = query();
            while (!_stop) {
                const auto start = Clock::now();
                if (!sendAll(_fd, ask) || !receive(8)) {
                    _lost = true;
                    return;
                }
                const double waited = secondsSince(start) * 1000;
                _slowestMs = std::max(_slowestMs.load(), waited);
                sleepMs(20);
            }
        });
    }
    ~QueryProbe() { finish(); }
    // The longest wait in milliseconds; negative when an answer never came.
    double finish() {
        _stop = true;
        if (_thread.joinable())
            _thread.join();
        if (_fd >= 0)
            close(_fd);
        _fd = -1;
        return _lost ? -1 : _slowestMs.load();
    }

private:
    bool receive(size_t count) {
        char buffer[8];
        for (size_t got = 0; got < count;) {
            pollfd watch{_fd, POLLIN, 0};
            if (poll(&watch, 1, 30000) <= 0)
                return false;
            const ssize_t n = recv(_fd, buffer, count - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

    int _fd;
    std::atomic<bool> _stop{false};
    std::atomic<bool> _lost{false};
    std::atomic<double> _slowestMs{0};
    std::thread _thread;
};

void needDescriptors(rlim_t count) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < count && limit.rlim_max >= count) {
        limit.rlim_cur = count;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < count)
        fail("ulimit -n is " + std::to_string(limit.rlim_cur) + ", the memory rows need " +
             std::to_string(count));
}

struct Held {
    Memory memory;
    double queryMs;
    long bytesSent;
};

// `count` connections each send a largest frame but its last byte, as far as TCP takes it;
// they stay open for 3 s more while another client asks its query.
Held incompleteFrames(const Board& board, int count) {
    Held held{};
    const std::string largest = nullMessage(KLM_LARGEST_FRAME);
    const std::string partial = largest.substr(0, largest.size() - 1);
    QueryProbe probe(board.port);
    long sent = 0;
    held.memory = memoryAround(board, [&] {
        std::vector<int> fds;
        for (int i = 0; i < count; ++i) {
            const int fd = connectTo(board.port);
            if (fd < 0)
                fail("connection refused while connections hold frames");
            fds.push_back(fd);
        }
        std::vector<size_t> at(fds.size(), 0);
        for (auto lastProgress = Clock::now(); secondsSince(lastProgress) < 1;) {
            for (size_t i = 0; i < fds.size(); ++i) {
                const ssize_t n = send(fds[i], partial.data() + at[i], partial.size() - at[i],
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    at[i] += static_cast<size_t>(n);
                    sent += n;
                    lastProgress = Clock::now();
                }
            }
            sleepMs(5);
        }
        sleepMs(3000);
        for (int fd : fds)
            close(fd);
        return static_cast<long>(count);
    });
    held.queryMs = probe.finish();
    held.bytesSent = sent;
    return held;
}

// `count` connections each send one picture that fills a screen, all at once, and close.
Memory wholePictures(const Board& board, int count) {
    const std::string picture = screenPicture();
    return memoryAround(board, [&] {
        std::vector<int> fds;
        for (int i = 0; i < count; ++i) {
            const int fd = connectTo(board.port);
            if (fd < 0)
                fail("connection refused while sending pictures");
            fds.push_back(fd);
        }
        std::vector<std::thread> senders;
        for (size_t part = 0; part < 4; ++part) {
            senders.emplace_back([&, part] {
                for (size_t i = part; i < fds.size(); i += 4)
                    sendAll(fds[i], picture);
            });
        }
        for (std::thread& sender : senders)
            sender.join();
        for (int fd : fds)
            close(fd);
        return static_cast<long>(count);
    });
}

// 200 000 uploads under ever new ids on one connection, then 1 000 connections open at once
// with 30 uploads each.
Memory uploads(const Board& board) {
    return memoryAround(board, [&] {
        const int fd = connectTo(board.port);
        std::string chunk;
        for (int id = 0; id < 200000; ++id) {
            chunk += uploadImage(23 + id);
            if (chunk.size() > 64 * 1024) {
                sendAll(fd, chunk);
                chunk.clear();
            }
        }
        sendAll(fd, chunk + query());
        char answer[8];
        recv(fd, answer, sizeof answer, MSG_WAITALL);
        close(fd);
        std::vector<int> fds;
        std::string thirty;
        for (int id = 0; id < 30; ++id)
            thirty += uploadImage(23 + id);
        for (int i = 0; i < 1000; ++i) {
            const int each = connectTo(board.port);
            if (each < 0)
                fail("connection refused while uploading");
            sendAll(each, thirty + query());
            fds.push_back(each);
        }
        for (int each : fds) {
            recv(each, answer, sizeof answer, MSG_WAITALL);
            close(each);
        }
        return 200000L + 30000L;
    });
}

// Five type 0 messages of `size` bytes, each on a connection of its own, half a second
// apart, while another client asks its query; keylight ends a connection whose frame it does
// not take.
double queryBehindNullMessages(const Board& board, size_t size) {
    board.waitUntilIdle();
    const std::string message = nullMessage(size);
    QueryProbe probe(board.port);
    for (int i = 0; i < 5; ++i) {
        const int fd = connectTo(board.port);
        if (fd < 0)
            fail("connection refused while sending null messages");
        sendUntil(fd, message, Clock::now() + std::chrono::seconds(2));
        sleepMs(500);
        close(fd);
    }
    return probe.finish();
}

// keylight's own CPU per text line and per picture, without and with its picture of the panel,
// each on a keylight of its own; the lowest of three batches, as other programs' load only
// ever adds to it. Then keylight's resident memory.
void pictureRows() {
    for (const bool withPicture : {false, true}) {
        Board board(withPicture);
        struct Kind {
            const char* name;
            std::string message;
            int count;
        };
        const Kind kinds[] = {
            {"text line (16 characters)", textLine(1, 2, "Tesserax panel 1"), 5000},
            {"picture (32 x 32 BMP)", picture(2, 40, 40, 32), 1000},
        };
        for (const Kind& kind : kinds) {
            double lowest = 1e9;
            for (int run = 0; run < 3; ++run)
                lowest =
                    std::min(lowest, cpuMicrosecondsPerMessage(board, kind.message, kind.count));
            std::printf(
                "| picture of the panel %s: keylight's own CPU per message: %d %s "
                "messages, one client, lowest of 3 | %.1f us |\n",
                withPicture ? "on" : "off", kind.count, kind.name, lowest);
            std::fflush(stdout);
        }
        std::printf(
            "| picture of the panel %s: keylight's resident memory afterwards | %ld KiB |\n",
            withPicture ? "on" : "off", board.keylightResidentKiB());
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    // The event loop of the Qt reference server; Qt's own dispatcher, as keylight's.
    setenv("QT_NO_GLIB", "1", 0);
    QCoreApplication application(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "picture") == 0) {
        std::printf("| case | measured |\n|---|---|\n");
        pictureRows();
        return 0;
    }
    // keylight as the packaged unit starts it, its debug lines not even formatted; the
    // environment may say otherwise.
    setenv("PANEL_LOG_LEVEL", "info", 0);
    if (argc > 1 && std::strcmp(argv[1], "paced") == 0) {
        Board board;
        std::printf("| case | measured |\n|---|---|\n");
        pacedRows(board);
        return 0;
    }
    // keylight inherits the limit: 1 000 connections at once, and the client ends of as many.
    needDescriptors(2100);
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

    pacedRows(board);

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
    std::fflush(stdout);

    const Stalled stalled = stalledDevice(board);
    std::printf(
        "| device stopped for 15 s (SIGSTOP panelsim), 24 buttons blinking every 20 ms | resident "
        "%ld KiB before, %ld KiB peak: growth %ld KiB; blinking %s after SIGCONT |\n",
        stalled.beforeKiB, stalled.peakKiB, stalled.peakKiB - stalled.beforeKiB,
        stalled.resumed ? "resumes" : "does NOT resume");
    std::fflush(stdout);
    const Held held = incompleteFrames(board, 600);
    std::printf(
        "| 600 connections each holding a largest frame (%u bytes) but its last byte, %ld "
        "bytes taken by TCP | resident %ld KiB before, %ld KiB peak, %ld KiB after; another "
        "client's query answered within %.1f ms |\n",
        KLM_LARGEST_FRAME, held.bytesSent, held.memory.beforeKiB, held.memory.peakKiB,
        held.memory.afterKiB, held.queryMs);
    std::fflush(stdout);
    printMemoryRow("600 connections each sending a picture that fills a screen, at once",
                   "pictures", wholePictures(board, 600));
    printMemoryRow("200 000 uploads under new ids, then 1 000 connections of 30", "uploads",
                   uploads(board));
    for (const size_t size : {size_t{255 * 1024}, size_t{KLM_LARGEST_FRAME}}) {
        std::printf(
            "| five type 0 messages of %zu bytes, half a second apart | another client's query "
            "answered within %.1f ms |\n",
            size, queryBehindNullMessages(board, size));
        std::fflush(stdout);
    }
    pictureRows();
    return 0;
}
