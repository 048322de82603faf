#include "fpga_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <atomic>

#include "panel.h"
#include "panel_internal.h"

namespace {

int system_open(const char* path, int flags) {
    return ::open(path, flags);
}

int system_ioctl(int fd, unsigned long request, fpga_request* record) {
    return ::ioctl(fd, request, record);
}

const fpga_device_ops system_ops = {system_open, system_ioctl};
const fpga_device_ops* current_ops = &system_ops;
std::atomic<int> requests_in_driver{0};

}  // namespace

void fpga_set_device_ops(const fpga_device_ops* ops) {
    current_ops = ops ? ops : &system_ops;
}

int device_open(const char* path, int flags) {
    return current_ops->open_device(path, flags);
}

int device_ioctl(int fd, unsigned long request, fpga_request* record) {
    ++requests_in_driver;
    const int result = current_ops->ioctl_device(fd, request, record);
    --requests_in_driver;
    return result;
}

bool panel_request_in_progress() {
    return requests_in_driver.load() > 0;
}
