#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "panel_internal.h"

bool gzip_inflate(const uint8_t* data, size_t length, uint8_t** out, size_t* out_length) {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    // 16 + MAX_WBITS: a gzip wrapper, not a raw zlib stream.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        return false;
    }
    size_t capacity = length * 4 + 1024;
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(capacity));
    size_t produced = 0;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(length);
    // There is always output room when inflate runs, so Z_BUF_ERROR means the input ended
    // before the stream did.
    int status = Z_OK;
    while (buffer && status == Z_OK) {
        if (produced == capacity) {
            capacity *= 2;
            uint8_t* grown = static_cast<uint8_t*>(std::realloc(buffer, capacity));
            if (!grown) {
                std::free(buffer);
                buffer = nullptr;
                break;
            }
            buffer = grown;
        }
        stream.next_out = buffer + produced;
        stream.avail_out = static_cast<uInt>(capacity - produced);
        status = inflate(&stream, Z_NO_FLUSH);
        produced = capacity - stream.avail_out;
    }
    inflateEnd(&stream);
    if (!buffer || status != Z_STREAM_END) {
        std::free(buffer);
        return false;
    }
    *out = buffer;
    *out_length = produced;
    return true;
}
