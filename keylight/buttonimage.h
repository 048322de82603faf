// A button picture as clients upload it, in the layout klm.h describes.
#pragma once

#include <array>
#include <cstdint>

#include "klm.h"

namespace keylight {

class ButtonImage {
public:
    static constexpr int BYTE_COUNT = KLM_UPLOAD_IMAGE_BYTES;
    using Bytes = std::array<uint8_t, BYTE_COUNT>;

    // All pixels dark.
    ButtonImage() = default;
    explicit ButtonImage(const Bytes& bytes);

    // Copies exactly 120 bytes from data. Any other size prints "invalid image data, size"
    // and leaves the image as it was; returns whether the image was filled.
    bool fill(const uint8_t* data, int size);

    const Bytes& bytes() const;

private:
    Bytes _bytes{};
};

}  // namespace keylight
