#include "fake_keylight.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr uint8_t QUERY_FRAME[8] = {0, 0, 0, 4, 0, 0, 0, 12};
constexpr uint8_t QUERY_ANSWER[8] = {0, 0, 0, 4, 0, 0, 0, 1};
constexpr uint8_t GARBAGE[8] = {0, 0, 0, 4, 0, 0, 0, 2};

}  // namespace

FakeKeylight::FakeKeylight(Answers answers) : _answers(answers) {
    _listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(_listener, 8);
    socklen_t size = sizeof(address);
    getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &size);
    _port = ntohs(address.sin_port);
    if (pipe2(_wake, O_CLOEXEC) != 0) {
        _wake[0] = _wake[1] = -1;
    }
    _thread = std::thread(&FakeKeylight::serve, this);
}

FakeKeylight::~FakeKeylight() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t woken = write(_wake[1], &stop, 1);
    _thread.join();
    close(_listener);
    close(_wake[0]);
    close(_wake[1]);
}

std::vector<std::vector<uint8_t>> FakeKeylight::connections(size_t count) {
    std::unique_lock<std::mutex> lock(_mutex);
    _closed.wait(lock, [&] { return _finished.size() >= count; });
    return _finished;
}

// One connection at a time is enough for a client that opens one.
void FakeKeylight::serve() {
    for (;;) {
        pollfd waiting[2] = {{_listener, POLLIN, 0}, {_wake[0], POLLIN, 0}};
        poll(waiting, 2, -1);
        if (waiting[1].revents) {
            return;
        }
        const int fd = accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serve_connection(fd);
        }
    }
}

void FakeKeylight::serve_connection(int fd) {
    std::vector<uint8_t> received;
    size_t answered_up_to = 0;  // bytes already scanned for whole frames
    for (;;) {
        pollfd waiting[2] = {{fd, POLLIN, 0}, {_wake[0], POLLIN, 0}};
        poll(waiting, 2, -1);
        if (waiting[1].revents) {
            break;
        }
        uint8_t buffer[4096];
        const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            break;
        }
        received.insert(received.end(), buffer, buffer + got);
        while (received.size() - answered_up_to >= 4) {
            const uint8_t* frame = received.data() + answered_up_to;
            const size_t length = (size_t{frame[0]} << 24) | (size_t{frame[1]} << 16) |
                                  (size_t{frame[2]} << 8) | frame[3];
            if (received.size() - answered_up_to < 4 + length) {
                break;
            }
            if (length == 4 && std::memcmp(frame, QUERY_FRAME, sizeof(QUERY_FRAME)) == 0) {
                if (_answers == Answers::Queries) {
                    send(fd, QUERY_ANSWER, sizeof(QUERY_ANSWER), MSG_NOSIGNAL);
                } else if (_answers == Answers::Garbage) {
                    send(fd, GARBAGE, sizeof(GARBAGE), MSG_NOSIGNAL);
                }
            }
            answered_up_to += 4 + length;
        }
    }
    close(fd);
    std::lock_guard<std::mutex> lock(_mutex);
    _finished.push_back(received);
    _closed.notify_all();
}
