#include "klm.h"

#include <arpa/inet.h>

#include <cstring>

namespace {

// Words are moved with memcpy so that a record lying at any address in a receive buffer
// converts without an unaligned access.
uint32_t load_word(const void* record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

void store_word(void* record, size_t offset, uint32_t value) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}

// The swap is its own inverse, so both directions use it.
void swap_word(void* record, size_t offset) {
    store_word(record, offset, htonl(load_word(record, offset)));
}

// `count` is the host-order length or count field, known before or after the fixed part is
// converted depending on the direction. Converting from one buffer into another carries every
// byte over first; the swaps then work on the destination alone.
void convert(const KlmRecordLayout& layout, void* dst, const void* src, uint32_t count) {
    const size_t tail_size = size_t{count} * layout.unit_size();
    if (dst != src) {
        std::memmove(dst, src, layout.fixed_size + tail_size);
    }
    for (size_t offset = 0; offset < layout.fixed_size; offset += 4) {
        if ((layout.words & klm_word(offset)) != 0) {
            swap_word(dst, offset);
        }
    }
    if (layout.tail == KlmTail::WORDS) {
        for (size_t i = 0; i < count; ++i) {
            swap_word(dst, layout.fixed_size + 4 * i);
        }
    }
}

uint32_t host_count(const KlmRecordLayout& layout, const void* record) {
    return layout.tail == KlmTail::NONE ? 0 : load_word(record, layout.count_offset);
}

}  // namespace

uint32_t klm_size(const KlmRecordLayout& layout, uint32_t n) {
    return layout.fixed_size + (layout.tail == KlmTail::NONE ? 0 : layout.unit_size() * n);
}

void klm_hton(const KlmRecordLayout& layout, void* dst, const void* src) {
    convert(layout, dst, src, host_count(layout, src));
}

void klm_ntoh(const KlmRecordLayout& layout, void* dst, const void* src) {
    convert(layout, dst, src, ntohl(host_count(layout, src)));
}

#define KLM_CONVERTERS(Name)                                       \
    void hton_KLM_##Name(KLM_##Name* dst, const KLM_##Name* src) { \
        klm_hton(KlmRecordTraits<KLM_##Name>::LAYOUT, dst, src);   \
    }                                                              \
    void ntoh_KLM_##Name(KLM_##Name* dst, const KLM_##Name* src) { \
        klm_ntoh(KlmRecordTraits<KLM_##Name>::LAYOUT, dst, src);   \
    }
#define KLM_DEFINE_FIXED(Name, ...)                            \
    uint32_t size_KLM_##Name() {                               \
        return KlmRecordTraits<KLM_##Name>::LAYOUT.fixed_size; \
    }                                                          \
    KLM_CONVERTERS(Name)
#define KLM_DEFINE_TAILED(Name, ...)                             \
    uint32_t size_KLM_##Name(uint32_t n) {                       \
        return klm_size(KlmRecordTraits<KLM_##Name>::LAYOUT, n); \
    }                                                            \
    KLM_CONVERTERS(Name)
KLM_RECORDS(KLM_DEFINE_FIXED, KLM_DEFINE_TAILED)
