#include "sendsocket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace keylightsend {
namespace {

using Clock = std::chrono::steady_clock;

// The one answer keylight ever sends: a frame of length 4 holding the value 1.
constexpr uint8_t QUERY_ANSWER[8] = {0, 0, 0, 4, 0, 0, 0, 1};

std::string endpoint(const std::string& host, uint16_t port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

int milliseconds_left(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Non-blocking connect so that an address that never answers costs at most the timeout.
// Returns 0, or the errno of the failure (ETIMEDOUT when the deadline passed).
int connect_within(int fd, const addrinfo& address, Clock::time_point deadline) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = 0;
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        result = errno;
        if (result == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            int ready = 0;
            do {
                ready = poll(&waiting, 1, milliseconds_left(deadline));
            } while (ready < 0 && errno == EINTR);
            socklen_t size = sizeof(result);
            if (ready == 0) {
                result = ETIMEDOUT;
            } else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0) {
                result = errno;
            }
        }
    }
    fcntl(fd, F_SETFL, flags);
    return result;
}

}  // namespace

int connect_to(const std::string& host, uint16_t port, int timeout_ms, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (lookup != 0) {
        error = "cannot find host " + host + ": " + gai_strerror(lookup);
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int failure = 0;
    int fd = -1;
    for (const addrinfo* address = addresses; address && fd < 0; address = address->ai_next) {
        fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) {
            failure = errno;
            continue;
        }
        failure = connect_within(fd, *address, deadline);
        if (failure != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(addresses);
    if (fd < 0) {
        error = "cannot connect to " + endpoint(host, port) + ": " + std::strerror(failure);
    }
    return fd;
}

bool send_all(int fd, const std::vector<uint8_t>& bytes, std::string& error) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        // MSG_NOSIGNAL: a server that went away is a failure to report, not a SIGPIPE.
        const ssize_t written = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::string("sending failed: ") + std::strerror(errno);
            return false;
        }
        sent += static_cast<size_t>(written);
    }
    return true;
}

bool await_answers(int fd, int count, int timeout_ms, std::string& error) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const size_t expected = static_cast<size_t>(count) * sizeof(QUERY_ANSWER);
    size_t received = 0;
    while (received < expected) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, milliseconds_left(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            error = "no answer to query within " + std::to_string(timeout_ms) + " ms";
            return false;
        }
        uint8_t buffer[64];
        const size_t wanted =
            expected - received < sizeof(buffer) ? expected - received : sizeof(buffer);
        const ssize_t got = recv(fd, buffer, wanted, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got == 0 ? "connection closed before the query was answered"
                             : std::string("receiving failed: ") + std::strerror(errno);
            return false;
        }
        for (ssize_t i = 0; i < got; ++i, ++received) {
            if (buffer[i] != QUERY_ANSWER[received % sizeof(QUERY_ANSWER)]) {
                error = "unexpected bytes in the answer to query";
                return false;
            }
        }
    }
    return true;
}

}  // namespace keylightsend
