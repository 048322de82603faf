#include "preloaddevice.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "devicewire.h"
#include "fpga_request.h"
#include "preloadpaths.h"
#include "preloadreal.h"

namespace panelsim::preload {

namespace {

constexpr const char DEVICE_PATH[] = "/dev/fpga-reg";
constexpr int MAX_DEVICES = 64;

// The table of device descriptors, which every ioctl and close of the program looks at, has
// a lock of its own: a request that waits for the daemon (stopped, or slow) holds up only the
// threads that use the device, as a driver's blocking ioctl would.
pthread_mutex_t g_deviceMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_exchangeMutex = PTHREAD_MUTEX_INITIALIZER;
int g_devices[MAX_DEVICES];
int g_deviceCount = 0;

class Lock {
public:
    explicit Lock(pthread_mutex_t& mutex) : _mutex(mutex) { pthread_mutex_lock(&_mutex); }
    ~Lock() { pthread_mutex_unlock(&_mutex); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    pthread_mutex_t& _mutex;
};

// Closes a socket of the layer's own that never became a device descriptor. The layer's close
// wrapper would look fd up in the table, under the lock that openDevice may be holding.
void closeOwn(int fd) {
    const auto realClose = REAL_FUNCTION(close);
    if (realClose != nullptr)
        realClose(fd);
}

// Index of fd among the device descriptors, or -1; call with the lock held.
int deviceSlot(int fd) {
    for (int i = 0; i < g_deviceCount; ++i) {
        if (g_devices[i] == fd)
            return i;
    }
    return -1;
}

// Moves all size bytes with transfer (send or recv), going on after a signal; false when the
// daemon went away.
template <typename Byte, typename Transfer>
bool transferAll(Byte* bytes, size_t size, Transfer transfer) {
    while (size > 0) {
        const ssize_t done = transfer(bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool sendAll(int fd, const void* data, size_t size) {
    return transferAll(
        static_cast<const uint8_t*>(data), size,
        [fd](const uint8_t* bytes, size_t left) { return send(fd, bytes, left, MSG_NOSIGNAL); });
}

bool receiveAll(int fd, void* data, size_t size) {
    return transferAll(static_cast<uint8_t*>(data), size,
                       [fd](uint8_t* bytes, size_t left) { return recv(fd, bytes, left, 0); });
}

bool sendWords(int fd, const uint16_t* words, uint32_t count) {
    uint8_t chunk[4096];
    for (uint32_t done = 0; done < count;) {
        const uint32_t now = count - done < sizeof chunk / 2 ? count - done : sizeof chunk / 2;
        for (uint32_t i = 0; i < now; ++i)
            panelsim::wire::put16(chunk + 2 * i, words[done + i]);
        if (!sendAll(fd, chunk, now * 2))
            return false;
        done += now;
    }
    return true;
}

// One request and its reply; the lock keeps the threads of a program from interleaving.
int exchange(int fd, const panelsim::wire::RequestHeader& header, const uint16_t* words,
             panelsim::wire::Reply& reply) {
    uint8_t head[panelsim::wire::REQUEST_HEADER_SIZE];
    panelsim::wire::encodeRequestHeader(header, head);
    uint8_t answer[panelsim::wire::REPLY_SIZE];
    Lock lock(g_exchangeMutex);
    if (!sendAll(fd, head, sizeof head) ||
        (header.count > 1 && !sendWords(fd, words, header.count)) ||
        !receiveAll(fd, answer, sizeof answer)) {
        return EIO;  // the daemon went away
    }
    reply = panelsim::wire::decodeReply(answer);
    return 0;
}

}  // namespace

bool isDevicePath(const char* path) {
    return path != nullptr && strcmp(path, DEVICE_PATH) == 0 && haveRoot();
}

int openDevice(int flags) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int written =
        snprintf(address.sun_path, sizeof address.sun_path, "%s%s", rootPath(), DEVICE_PATH);
    if (written < 0 || static_cast<size_t>(written) >= sizeof address.sun_path) {
        errno = ENOENT;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | ((flags & O_CLOEXEC) ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        closeOwn(fd);
        errno = ENOENT;  // what the program would see without the device
        return -1;
    }
    Lock lock(g_deviceMutex);
    if (g_deviceCount == MAX_DEVICES) {
        closeOwn(fd);
        errno = EMFILE;
        return -1;
    }
    g_devices[g_deviceCount] = fd;
    __atomic_store_n(&g_deviceCount, g_deviceCount + 1, __ATOMIC_RELEASE);
    return fd;
}

bool isDevice(int fd) {
    if (__atomic_load_n(&g_deviceCount, __ATOMIC_ACQUIRE) == 0)
        return false;
    Lock lock(g_deviceMutex);
    return deviceSlot(fd) >= 0;
}

void forgetDevice(int fd) {
    if (__atomic_load_n(&g_deviceCount, __ATOMIC_ACQUIRE) == 0)
        return;
    Lock lock(g_deviceMutex);
    const int slot = deviceSlot(fd);
    if (slot < 0)
        return;
    g_devices[slot] = g_devices[g_deviceCount - 1];
    __atomic_store_n(&g_deviceCount, g_deviceCount - 1, __ATOMIC_RELEASE);
}

int deviceIoctl(int fd, unsigned long request, void* argument) {
    const int saved = errno;
    panelsim::wire::RequestHeader header;
    header.number = static_cast<uint32_t>(request);
    auto* record = static_cast<fpga_request*>(argument);
    const bool known = request == FPGA_REQ_SHORT || request == FPGA_REQ_LONG;
    const uint16_t* words = nullptr;
    if (known) {
        if (record == nullptr) {
            errno = EFAULT;
            return -1;
        }
        header.address_word =
            request == FPGA_REQ_SHORT ? record->address.short_word : record->address.long_word;
        header.count = record->count;
        if (record->count == 1)
            header.value = record->data.value;
        if (record->count > 1)
            words = record->data.words;
        if (record->count > 1 && words == nullptr) {
            errno = EFAULT;
            return -1;
        }
        if (record->count > panelsim::wire::MAX_WIRE_WORDS) {
            errno = EINVAL;
            return -1;
        }
    }
    // An unknown request travels with its number only; the daemon refuses it.
    panelsim::wire::Reply reply;
    const int failure = exchange(fd, header, words, reply);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    if (reply.result != 0) {
        errno = static_cast<int>(reply.error);
        return -1;
    }
    if (known && record->count == 1)
        record->data.value = reply.value;
    errno = saved;
    return 0;
}

}  // namespace panelsim::preload
