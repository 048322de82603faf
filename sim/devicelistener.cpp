#include "devicelistener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "devicewire.h"

namespace panelsim {

namespace {

constexpr size_t READ_CHUNK = 64 * 1024;

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool someoneListens(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool listening =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return listening;
}

long peerPid(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return 0;
    return credentials.pid;
}

}  // namespace

DeviceListener::DeviceListener(FpgaModel& model) : _model(model) {}

DeviceListener::~DeviceListener() {
    for (Client& client : _clients)
        drop(client);
    if (_listen_fd >= 0) {
        ::close(_listen_fd);
        ::unlink(_path.c_str());
    }
    if (_wake_read >= 0)
        ::close(_wake_read);
    if (_wake_write >= 0)
        ::close(_wake_write);
}

bool DeviceListener::listen(const std::string& path, std::string& error) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        error = "socket path too long: " + path;
        return false;
    }
    if (someoneListens(address)) {
        error = "another daemon listens on " + path;
        return false;
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        ::unlink(path.c_str());
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    _wake_read = pipeFds[0];
    _wake_write = pipeFds[1];
    _listen_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (_listen_fd < 0 ||
        ::bind(_listen_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(_listen_fd, 64) != 0) {
        error = path + ": " + std::strerror(errno);
        if (_listen_fd >= 0)
            ::close(_listen_fd);
        _listen_fd = -1;
        return false;
    }
    _path = path;
    return true;
}

void DeviceListener::stop() {
    const char byte = 0;
    // The pipe is non-blocking: a second stop while the first is pending changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(_wake_write, &byte, 1);
}

void DeviceListener::run() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({_wake_read, POLLIN, 0});
        fds.push_back({_listen_fd, POLLIN, 0});
        for (const Client& client : _clients)
            fds.push_back({client.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        // Serve the connections already known before accepting new ones, so that an
        // accepted client's first request is never read ahead of its OPEN line.
        for (size_t i = 0; i < _clients.size(); ++i) {
            if (fds[i + 2].revents != 0 && !serve(_clients[i]))
                drop(_clients[i]);
        }
        _clients.erase(std::remove_if(_clients.begin(), _clients.end(),
                                      [](const Client& c) { return c.fd < 0; }),
                       _clients.end());
        if (fds[1].revents & POLLIN)
            accept();
    }
}

void DeviceListener::accept() {
    for (;;) {
        const int fd = ::accept4(_listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        Client client;
        client.fd = fd;
        client.connection = _model.openConnection(peerPid(fd));
        _clients.push_back(std::move(client));
    }
}

bool DeviceListener::serve(Client& client) {
    uint8_t chunk[READ_CHUNK];
    for (;;) {
        const ssize_t got = ::recv(client.fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            client.input.insert(client.input.end(), chunk, chunk + got);
            if (!executeRequests(client))
                return false;
            continue;
        }
        if (got == 0)
            return false;  // closed, possibly in the middle of a request
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

bool DeviceListener::executeRequests(Client& client) {
    size_t used = 0;
    std::vector<uint16_t> words;
    while (client.input.size() - used >= wire::REQUEST_HEADER_SIZE) {
        const uint8_t* start = client.input.data() + used;
        const wire::RequestHeader header = wire::decodeRequestHeader(start);
        if (header.count > wire::MAX_WIRE_WORDS)
            return false;
        const size_t size = wire::REQUEST_HEADER_SIZE + wire::burstBytes(header.count);
        if (client.input.size() - used < size)
            break;

        RequestFields fields;
        fields.number = header.number;
        fields.address_word = header.address_word;
        fields.count = header.count;
        fields.value = header.value;
        if (header.count > 1) {
            words.resize(header.count);
            for (uint32_t i = 0; i < header.count; ++i) {
                words[i] = wire::get16(start + wire::REQUEST_HEADER_SIZE + 2 * i);
            }
            fields.words = words.data();
        }
        wire::Reply reply;
        reply.result = _model.executeFields(client.connection, fields);
        reply.error = reply.result == 0 ? 0 : static_cast<uint32_t>(errno);
        reply.value = header.count == 1 ? fields.value : 0;
        uint8_t bytes[wire::REPLY_SIZE];
        wire::encodeReply(reply, bytes);
        // A client waits for each reply; one that lets replies pile up is not served on.
        if (::send(client.fd, bytes, sizeof bytes, MSG_NOSIGNAL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(sizeof bytes)) {
            return false;
        }
        used += size;
    }
    client.input.erase(client.input.begin(),
                       client.input.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

void DeviceListener::drop(Client& client) {
    if (client.fd < 0)
        return;
    ::close(client.fd);
    client.fd = -1;
    _model.closeConnection(client.connection);
}

}  // namespace panelsim
