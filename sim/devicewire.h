// How one ioctl of "/dev/fpga-reg" crosses the daemon's Unix socket, ROOT/dev/fpga-reg.
//
// The program's side (the preload layer) takes the record apart in its own layout, so the
// daemon never sees a raw record. All numbers are little-endian.
//
//   request, 16 bytes, then the burst:
//     0  u32  ioctl request number as the program issued it (16- or 24-byte record)
//     4  u32  address word (short form: the low 16 bits)
//     8  u32  count of 16-bit words
//    12  u16  value (count 1), otherwise 0
//    14  u16  0
//    16  count x u16, only when count > 1: the burst words in order
//   reply, 12 bytes:
//     0  i32  the ioctl result, 0 or -1
//     4  u32  errno when the result is -1, else 0
//     8  u16  the value of a count-1 access (what a read returned), else 0
//    10  u16  0
//
// One request is answered before the next is read. A request whose count exceeds
// MAX_WIRE_WORDS ends the connection, as does any short read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace panelsim::wire {

constexpr size_t REQUEST_HEADER_SIZE = 16;
constexpr size_t REPLY_SIZE = 12;
constexpr uint32_t MAX_WIRE_WORDS = 1u << 22;

struct RequestHeader {
    uint32_t number = 0;
    uint32_t address_word = 0;
    uint32_t count = 0;
    uint16_t value = 0;
};

struct Reply {
    int32_t result = 0;
    uint32_t error = 0;
    uint16_t value = 0;
};

inline void put16(uint8_t* out, uint16_t v) {
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t get16(const uint8_t* in) {
    return static_cast<uint16_t>(in[0] | in[1] << 8);
}
inline uint32_t get32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

inline void encodeRequestHeader(const RequestHeader& h, uint8_t out[REQUEST_HEADER_SIZE]) {
    put32(out, h.number);
    put32(out + 4, h.address_word);
    put32(out + 8, h.count);
    put16(out + 12, h.value);
    put16(out + 14, 0);
}
inline RequestHeader decodeRequestHeader(const uint8_t in[REQUEST_HEADER_SIZE]) {
    return RequestHeader{get32(in), get32(in + 4), get32(in + 8), get16(in + 12)};
}
// Bytes of burst words that follow a header with this count.
inline size_t burstBytes(uint32_t count) {
    return count > 1 ? size_t{count} * 2 : 0;
}

inline void encodeReply(const Reply& r, uint8_t out[REPLY_SIZE]) {
    put32(out, static_cast<uint32_t>(r.result));
    put32(out + 4, r.error);
    put16(out + 8, r.value);
    put16(out + 10, 0);
}
inline Reply decodeReply(const uint8_t in[REPLY_SIZE]) {
    return Reply{static_cast<int32_t>(get32(in)), get32(in + 4), get16(in + 8)};
}

}  // namespace panelsim::wire
