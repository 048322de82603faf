#include "defaultbuttonimages.h"

#include <cstddef>

namespace keylight {

namespace {

constexpr int kWidth = 36;
constexpr int kHeight = 24;
constexpr int kRowBytes = 5;
constexpr int kNumberBits = 5;
constexpr int kMarkSize = 4;
constexpr int kMarkPitch = 6;
constexpr int kMarksLeft = (kWidth - (kNumberBits - 1) * kMarkPitch - kMarkSize) / 2;
constexpr int kMarksTop = (kHeight - kMarkSize) / 2;

constexpr void setPixel(ButtonImage::Bytes& bytes, int x, int y) {
    bytes[static_cast<size_t>(y * kRowBytes + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

constexpr ButtonImage::Bytes numberedFrame(int number) {
    ButtonImage::Bytes bytes{};
    for (int x = 0; x < kWidth; ++x) {
        setPixel(bytes, x, 0);
        setPixel(bytes, x, kHeight - 1);
    }
    for (int y = 0; y < kHeight; ++y) {
        setPixel(bytes, 0, y);
        setPixel(bytes, kWidth - 1, y);
    }
    for (int bit = 0; bit < kNumberBits; ++bit) {
        const bool set = (number >> (kNumberBits - 1 - bit)) & 1;
        const int left = kMarksLeft + bit * kMarkPitch;
        for (int dy = 0; dy < kMarkSize; ++dy) {
            for (int dx = 0; dx < kMarkSize; ++dx) {
                const bool edge = dx == 0 || dy == 0 || dx == kMarkSize - 1 || dy == kMarkSize - 1;
                if (set || edge) {
                    setPixel(bytes, left + dx, kMarksTop + dy);
                }
            }
        }
    }
    return bytes;
}

constexpr std::array<ButtonImage::Bytes, kDefaultImageCount> numberedFrames() {
    std::array<ButtonImage::Bytes, kDefaultImageCount> images{};
    for (int i = 0; i < kDefaultImageCount; ++i) {
        images[static_cast<size_t>(i)] = numberedFrame(i);
    }
    return images;
}

constexpr std::array<ButtonImage::Bytes, kDefaultImageCount> kDefaultImages = numberedFrames();

}  // namespace

const std::array<ButtonImage::Bytes, kDefaultImageCount>& defaultButtonImages() {
    return kDefaultImages;
}

}  // namespace keylight
