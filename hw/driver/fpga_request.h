// The request record of the "/dev/fpga-reg" driver and its two request numbers.
//
// On the 32-bit ARM target the record is 16 bytes: reserved word at 0, address word at 4
// (16-bit short form or 32-bit long form), word count at 8, and at 12 either the 16-bit
// value itself (count 1) or the address of the caller's word array (count > 1).
// On a 64-bit host the array address needs 8 bytes, so the union is 8-byte aligned and the
// record grows to 24 bytes; the request numbers are derived from the record so that they
// carry its real size there and are exactly 0xC0102400 / 0xC0102401 on the target.
#pragma once

#include <linux/ioctl.h>
#include <cstddef>
#include <cstdint>

struct fpga_request {
    uint32_t reserved;  // always 0
    union {
        uint16_t short_word;  // request FPGA_REQ_SHORT: address | bit 13 | read << 14
        uint32_t long_word;   // request FPGA_REQ_LONG: address | bit 29 | read << 30
    } address;
    uint32_t count;  // number of 16-bit words
    union {
        uint16_t value;         // count == 1: the word written, or read back
        const uint16_t* words;  // count > 1: the burst, count words
    } data;
};

#define FPGA_REQ_SHORT _IOWR('$', 0, struct fpga_request)
#define FPGA_REQ_LONG _IOWR('$', 1, struct fpga_request)

// Address words of the two forms.
constexpr uint32_t FPGA_SHORT_FORM_LIMIT = 0x2000;  // addresses below use the short form
constexpr uint16_t FPGA_SHORT_MARK = 0x2000;        // bit 13
constexpr uint16_t FPGA_SHORT_READ = 0x4000;        // bit 14
constexpr uint16_t FPGA_SHORT_ADDRESS_MASK = 0x1FFF;
constexpr uint32_t FPGA_LONG_MARK = 0x20000000u;  // bit 29
constexpr uint32_t FPGA_LONG_READ = 0x40000000u;  // bit 30
constexpr uint32_t FPGA_LONG_ADDRESS_MASK = 0x1FFFFFFFu;

static_assert(offsetof(fpga_request, reserved) == 0, "reserved word at offset 0");
static_assert(offsetof(fpga_request, address) == 4, "address word at offset 4");
static_assert(offsetof(fpga_request, count) == 8, "count at offset 8");
static_assert(offsetof(fpga_request, data) == (sizeof(void*) == 4 ? 12 : 16),
              "data at offset 12 on 32-bit targets");
static_assert(sizeof(fpga_request) == (sizeof(void*) == 4 ? 16 : 24),
              "the request record is 16 bytes on 32-bit targets");

#if defined(__arm__) || (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4)
static_assert(FPGA_REQ_SHORT == 0xC0102400u, "short-form request number of the driver");
static_assert(FPGA_REQ_LONG == 0xC0102401u, "long-form request number of the driver");
#endif
