#include "klmframe.h"

#include <cstring>

namespace {

void append_big_endian(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

}  // namespace

// The record is converted where it lies, in bytes that need no alignment.
std::vector<uint8_t> klm_record(const KlmRecordLayout& layout, const void* fixed, const void* tail,
                                size_t tail_size) {
    std::vector<uint8_t> record(layout.fixed_size + tail_size);
    std::memcpy(record.data(), fixed, layout.fixed_size);
    if (tail_size > 0) {
        std::memcpy(record.data() + layout.fixed_size, tail, tail_size);
    }
    klm_hton(layout, record.data(), record.data());
    return record;
}

std::vector<uint8_t> klm_query_record() {
    std::vector<uint8_t> record;
    append_big_endian(record, TYPE_QUERY);
    return record;
}

void klm_append_frame(std::vector<uint8_t>& frames, const void* record, size_t size) {
    append_big_endian(frames, static_cast<uint32_t>(size));
    const auto* first = static_cast<const uint8_t*>(record);
    frames.insert(frames.end(), first, first + size);
}

void klm_append_frame(std::vector<uint8_t>& frames, const std::vector<uint8_t>& record) {
    klm_append_frame(frames, record.data(), record.size());
}
