#include "inprocessdevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "fpga_device.h"

namespace panelsim {

namespace {

// The seam takes plain function pointers, so the live device is reached through this.
struct Active {
    std::mutex mutex;
    FpgaModel* model = nullptr;
    std::map<int, int> connections;  // descriptor -> model connection
};

Active& active() {
    static Active instance;
    return instance;
}

int openDevice(const char* path, int /*flags*/) {
    if (path == nullptr || std::strcmp(path, "/dev/fpga-reg") != 0) {
        errno = ENOENT;
        return -1;
    }
    // A real descriptor, so that its number is unique and closing it is harmless.
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    Active& a = active();
    std::lock_guard<std::mutex> lock(a.mutex);
    a.connections[fd] = a.model->openConnection(static_cast<long>(::getpid()));
    return fd;
}

int ioctlDevice(int fd, unsigned long request, fpga_request* record) {
    Active& a = active();
    int connection = 0;
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        const auto it = a.connections.find(fd);
        if (it == a.connections.end()) {
            errno = EBADF;
            return -1;
        }
        connection = it->second;
    }
    return a.model->execute(connection, request, record);
}

const fpga_device_ops MODEL_OPS = {openDevice, ioctlDevice};

}  // namespace

InProcessDevice::InProcessDevice(FpgaModel& model) {
    Active& a = active();
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        a.model = &model;
    }
    fpga_set_device_ops(&MODEL_OPS);
}

InProcessDevice::~InProcessDevice() {
    fpga_set_device_ops(nullptr);
    Active& a = active();
    std::lock_guard<std::mutex> lock(a.mutex);
    for (const auto& [fd, connection] : a.connections) {
        a.model->closeConnection(connection);
        ::close(fd);
    }
    a.connections.clear();
    a.model = nullptr;
}

}  // namespace panelsim
