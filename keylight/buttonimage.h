// A button picture as clients upload it: 24 rows of 5 bytes (36 pixels used of 40), the most
// significant bit of a byte the leftmost pixel.
#pragma once

#include <array>
#include <cstdint>

namespace keylight {

class ButtonImage {
public:
    static constexpr int BYTE_COUNT = 120;
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
