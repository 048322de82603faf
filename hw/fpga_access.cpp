// Register access: the request record, the two address forms and the module-level helpers,
// and the device's opening and closing.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

int fpga_fd = -1;
uint32_t spi_call_count = 0;

namespace {

const char* const default_device_path = "/dev/fpga-reg";

fpga_access_observer access_observer = nullptr;
void* access_observer_context = nullptr;
// While a start-up sequence is replayed: where its accesses go instead of the device.
thread_local fpga_access_observer replay_observer = nullptr;
thread_local void* replay_context = nullptr;

}  // namespace

int fpga_open(const char* path) {
    return device_open(path ? path : default_device_path, O_RDWR);
}

void panel_open() {
    fpga_fd = fpga_open(nullptr);
    const int open_error = errno;
    if (fpga_fd >= 0) {
        toggle_shadow_from_device();
    }
    text_engine_start();
    errno = open_error;
}

int panel_device_open() {
    if (fpga_fd < 0) {
        fpga_fd = fpga_open(nullptr);
        if (fpga_fd >= 0) {
            toggle_shadow_from_device();
        }
    }
    return fpga_fd < 0 ? -1 : 0;
}

void panel_close() {
    text_engine_stop();
}

void fpga_set_access_observer(fpga_access_observer observer, void* context) {
    access_observer = observer;
    access_observer_context = context;
}

void fpga_replay_to(fpga_access_observer observer, void* context) {
    replay_observer = observer;
    replay_context = context;
}

int fpga_access(int fd, uint32_t address, int is_read, uint16_t* data, uint32_t count) {
    ++spi_call_count;
    const uint32_t read = is_read ? 1 : 0;
    if (count > 0 && !data) {
        return -1;
    }

    fpga_request record;
    std::memset(&record, 0, sizeof record);
    unsigned long request;
    if (address < FPGA_SHORT_FORM_LIMIT) {
        record.address.short_word = static_cast<uint16_t>(
            (address & FPGA_SHORT_ADDRESS_MASK) | FPGA_SHORT_MARK | (read ? FPGA_SHORT_READ : 0));
        request = FPGA_REQ_SHORT;
    } else {
        record.address.long_word =
            (address & FPGA_LONG_ADDRESS_MASK) | FPGA_LONG_MARK | (read ? FPGA_LONG_READ : 0);
        request = FPGA_REQ_LONG;
    }
    record.count = count;
    if (count == 1) {
        record.data.value = *data;
    } else if (count > 1) {
        record.data.words = data;
    }

    if (replay_observer) {
        replay_observer(replay_context, request, &record);
        return 0;
    }
    led_gap_wait();
    const int result = device_ioctl(fd, request, &record);
    if (result == 0 && access_observer) {
        access_observer(access_observer_context, request, &record);
    }
    // The driver hands a single word back in place, for reads and writes alike.
    if (count == 1) {
        *data = record.data.value;
    }
    return result;
}

uint16_t fpga_read(int fd, uint32_t address) {
    uint16_t value = 0;
    fpga_access(fd, address, 1, &value, 1);
    return value;
}

int fpga_write(int fd, uint32_t address, uint16_t* data, uint32_t count) {
    return fpga_access(fd, address, 0, data, count);
}

int reg_write(uint32_t address, uint16_t value) {
    return fpga_write(fpga_fd, address, &value, 1);
}

uint16_t reg_read(uint32_t address) {
    return fpga_read(fpga_fd, address);
}

int reg_write_high(uint32_t address, uint8_t byte) {
    return reg_write(address, static_cast<uint16_t>(byte << 8));
}
