#include "buttonimage.h"

#include <cstdio>
#include <cstring>

#include "panel.h"

namespace keylight {

ButtonImage::ButtonImage(const Bytes& bytes) : _bytes(bytes) {}

bool ButtonImage::fill(const uint8_t* data, int size) {
    if (size != BYTE_COUNT) {
        log_printf(log_priority::err, "invalid image data, size = %d\n", size);
        return false;
    }
    memcpy(_bytes.data(), data, BYTE_COUNT);
    return true;
}

const ButtonImage::Bytes& ButtonImage::bytes() const {
    return _bytes;
}

}  // namespace keylight
