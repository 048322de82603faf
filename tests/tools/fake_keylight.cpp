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

} // namespace

FakeKeylight::FakeKeylight(Answers answers) : answers_(answers) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener_, 8);
    socklen_t size = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        wake_[0] = wake_[1] = -1;
    }
    thread_ = std::thread(&FakeKeylight::serve, this);
}

FakeKeylight::~FakeKeylight() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t woken = write(wake_[1], &stop, 1);
    thread_.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

std::vector<std::vector<uint8_t>> FakeKeylight::connections(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_.wait(lock, [&] { return finished_.size() >= count; });
    return finished_;
}

// One connection at a time is enough for a client that opens one.
void FakeKeylight::serve() {
    for (;;) {
        pollfd waiting[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        poll(waiting, 2, -1);
        if (waiting[1].revents) {
            return;
        }
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serve_connection(fd);
        }
    }
}

void FakeKeylight::serve_connection(int fd) {
    std::vector<uint8_t> received;
    size_t answered_up_to = 0; // bytes already scanned for whole frames
    for (;;) {
        pollfd waiting[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
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
            const size_t length = (size_t{frame[0]} << 24) | (size_t{frame[1]} << 16) | (size_t{frame[2]} << 8) | frame[3];
            if (received.size() - answered_up_to < 4 + length) {
                break;
            }
            if (length == 4 && std::memcmp(frame, QUERY_FRAME, sizeof(QUERY_FRAME)) == 0) {
                if (answers_ == Answers::Queries) {
                    send(fd, QUERY_ANSWER, sizeof(QUERY_ANSWER), MSG_NOSIGNAL);
                } else if (answers_ == Answers::Garbage) {
                    send(fd, GARBAGE, sizeof(GARBAGE), MSG_NOSIGNAL);
                }
            }
            answered_up_to += 4 + length;
        }
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.push_back(received);
    closed_.notify_all();
}
