// The one seam between the hardware library and the operating system.
//
// Every open of the register device and every ioctl on it goes through these two calls,
// so that tests can run the library against the FPGA model in the same process.
#pragma once

#include "fpga_request.h"

struct fpga_device_ops {
    // Same contract as open(2): a descriptor, or -1 with errno set.
    int (*open_device)(const char* path, int flags);
    // Same contract as ioctl(2) on the register device.
    int (*ioctl_device)(int fd, unsigned long request, fpga_request* record);
};

// Routes the library's device calls through ops (not copied: it must outlive its use).
// nullptr restores the real open(2) and ioctl(2).
void fpga_set_device_ops(const fpga_device_ops* ops);
