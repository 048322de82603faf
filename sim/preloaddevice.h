// The device connection of the preload layer: opening "/dev/fpga-reg" connects to the
// daemon's socket ROOT/dev/fpga-reg, and each ioctl on that descriptor is sent to the daemon
// (devicewire.h) and answered by it. The descriptors stay known until they are closed or
// another descriptor is duplicated onto them.
#pragma once

namespace panelsim::preload {

// True for "/dev/fpga-reg" while there is a root; path may be null.
bool isDevicePath(const char* path);
// A descriptor connected to the daemon, or -1 with errno: ENOENT without a daemon (as for a
// missing device), EMFILE when 64 are open already, else as socket(2) set it. Of flags only
// O_CLOEXEC counts.
int openDevice(int flags);
// True when fd is a descriptor openDevice gave.
bool isDevice(int fd);
// Forgets fd as a device descriptor; nothing when it is none. Does not close it.
void forgetDevice(int fd);
// The ioctl on a device descriptor, answered by the daemon: 0, or -1 with errno (EFAULT for
// a missing record or word array, EINVAL for a burst too long for the wire, EIO when the
// daemon went away, else the daemon's errno). errno is unchanged on success.
int deviceIoctl(int fd, unsigned long request, void* argument);

}  // namespace panelsim::preload
