// The byte-order converters and size operations of every record. The first byte of an input
// chooses the record; the rest is the record in network order, its length or count field cut
// to what the input carries, in a buffer of exactly the record's size. Converting must stay
// inside that buffer, restore the record when done twice, agree in place and between two
// buffers, and leave the length or count field readable in host order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "fuzz_support.h"
#include "klm.h"

namespace {

using Convert = void (*)(void* dst, const void* src);
using Size = uint32_t (*)(uint32_t n);

template <typename Record, void (*Converter)(Record*, const Record*)>
void convert(void* dst, const void* src) {
    Converter(static_cast<Record*>(dst), static_cast<const Record*>(src));
}

template <uint32_t (*Fixed)()>
uint32_t fixedSize(uint32_t) {
    return Fixed();
}

struct Codec {
    const KlmRecordLayout& layout;
    Size size;
    Convert hton;
    Convert ntoh;
};

#define KLM_CODEC(Name, size)                                                         \
    {KlmRecordTraits<KLM_##Name>::LAYOUT, size, convert<KLM_##Name, hton_KLM_##Name>, \
     convert<KLM_##Name, ntoh_KLM_##Name>},
#define KLM_FIXED(Name, ...) KLM_CODEC(Name, fixedSize<size_KLM_##Name>)
#define KLM_TAILED(Name, ...) KLM_CODEC(Name, size_KLM_##Name)
const Codec CODECS[] = {KLM_RECORDS(KLM_FIXED, KLM_TAILED)};
#undef KLM_TAILED
#undef KLM_FIXED
#undef KLM_CODEC

uint32_t bigEndian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void putBigEndian(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }
}

uint32_t hostWord(const uint8_t* p) {
    uint32_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

// A heap block of exactly the record's size, so that the sanitizer sees any byte beyond it.
class Buffer {
public:
    explicit Buffer(size_t size) : bytes(static_cast<uint8_t*>(std::malloc(size))), length(size) {}
    ~Buffer() { std::free(bytes); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    uint8_t* data() { return bytes; }
    bool same(const Buffer& other) const { return memcmp(bytes, other.bytes, length) == 0; }

private:
    uint8_t* bytes;
    size_t length;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const Codec& codec = CODECS[data[0] % std::size(CODECS)];
    const KlmRecordLayout& layout = codec.layout;
    std::vector<uint8_t> wire(data + 1, data + size);
    wire.resize(std::max<size_t>(wire.size(), layout.fixed_size), 0);

    uint32_t n = 0;
    if (layout.tail != KlmTail::NONE) {
        const size_t carried = (wire.size() - layout.fixed_size) / layout.unit_size();
        n = bigEndian(wire.data() + layout.count_offset);
        if (n > carried) {
            n = static_cast<uint32_t>(carried);
            putBigEndian(wire.data() + layout.count_offset, n);
        }
    }
    const size_t recordSize = layout.fixed_size + size_t{layout.unit_size()} * n;
    if (codec.size(n) != recordSize) {
        fuzzsupport::fail("a size operation disagrees with the record's layout");
    }

    Buffer network(recordSize);
    memcpy(network.data(), wire.data(), recordSize);
    Buffer host(recordSize);
    memcpy(host.data(), wire.data(), recordSize);
    codec.ntoh(host.data(), host.data());
    if (layout.tail != KlmTail::NONE && hostWord(host.data() + layout.count_offset) != n) {
        fuzzsupport::fail("the length or count field is not in host order after ntoh");
    }

    Buffer apart(recordSize);
    codec.ntoh(apart.data(), network.data());
    if (!apart.same(host)) {
        fuzzsupport::fail("ntoh into another buffer differs from ntoh in place");
    }
    codec.hton(apart.data(), host.data());
    if (!apart.same(network)) {
        fuzzsupport::fail("hton into another buffer does not restore the record");
    }
    codec.hton(host.data(), host.data());
    if (!host.same(network)) {
        fuzzsupport::fail("hton after ntoh does not restore the record");
    }
    return 0;
}
