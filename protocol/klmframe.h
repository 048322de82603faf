// Records and frames built for the wire, the one way every client of keylight builds them.
//
// A record is built from its fixed part, filled in host order with its type and its length or
// count field set, and the variable part that follows it; it comes back in network order. A
// frame is a record behind its 32-bit big-endian length. Nothing is checked: the caller keeps
// the length or count field and the variable part in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "klm.h"

// The side of a screen in pixels; no picture keylight draws is larger.
constexpr uint32_t KLM_SCREEN_SIDE = 128;
// The largest frame keylight reads whole and acts on: room for the draw-image record of any
// BMP file that fills a screen, three bytes a pixel (49 226 bytes with the smallest headers),
// also with a larger information header or bytes after its pixels.
constexpr uint32_t KLM_LARGEST_FRAME = 64 * 1024;
// A larger frame, up to this, is read through and dropped as it arrives, with a line in
// keylight's log; the connection goes on. keylight ends a connection that announces more.
constexpr uint32_t KLM_LARGEST_SKIPPED_FRAME = 2 * 1024 * 1024;

// The record of `layout` whose fixed part is `fixed` (host order, layout.fixed_size bytes),
// followed by `tail_size` bytes from `tail`, in network order.
std::vector<uint8_t> klm_record(const KlmRecordLayout& layout, const void* fixed, const void* tail,
                                size_t tail_size);

template <typename Record>
std::vector<uint8_t> klm_record(const Record& fixed, const void* tail = nullptr,
                                size_t tail_size = 0) {
    return klm_record(KlmRecordTraits<Record>::LAYOUT, &fixed, tail, tail_size);
}

// The record of a Record made of 32-bit fields only, from the fields after its type, in the
// order the struct declares them.
template <typename Record, typename... Fields>
std::vector<uint8_t> klm_record_of(Fields... fields) {
    constexpr KlmRecordLayout LAYOUT = KlmRecordTraits<Record>::LAYOUT;
    static_assert(LAYOUT.tail == KlmTail::NONE && LAYOUT.words == klm_words_to(LAYOUT.fixed_size) &&
                      LAYOUT.fixed_size == 4 * (1 + sizeof...(Fields)),
                  "klm_record_of takes every field after the type, and only 32-bit fields");
    const uint32_t words[] = {LAYOUT.type, static_cast<uint32_t>(fields)...};
    return klm_record(LAYOUT, words, nullptr, 0);
}

// The record of a Record with a variable part, from the fields after its type up to its
// length or count field, which is set to count the `tail_size` bytes of `tail`.
template <typename Record, typename... Fields>
std::vector<uint8_t> klm_tailed_record_of(const void* tail, size_t tail_size, Fields... fields) {
    constexpr KlmRecordLayout LAYOUT = KlmRecordTraits<Record>::LAYOUT;
    static_assert(LAYOUT.tail != KlmTail::NONE && LAYOUT.count_offset == LAYOUT.fixed_size - 4 &&
                      LAYOUT.fixed_size == 4 * (2 + sizeof...(Fields)),
                  "klm_tailed_record_of takes every field between the type and the count");
    const uint32_t words[] = {LAYOUT.type, static_cast<uint32_t>(fields)...,
                              static_cast<uint32_t>(tail_size / LAYOUT.unit_size())};
    return klm_record(LAYOUT, words, tail, tail_size);
}

// The type-12 query: its type field alone, in network order.
std::vector<uint8_t> klm_query_record();

// Appends the frame of the `size` bytes of `record` to `frames`.
void klm_append_frame(std::vector<uint8_t>& frames, const void* record, size_t size);
void klm_append_frame(std::vector<uint8_t>& frames, const std::vector<uint8_t>& record);
