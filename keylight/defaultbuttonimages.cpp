#include "defaultbuttonimages.h"

#include <cstddef>

namespace keylight {

namespace {

constexpr int WIDTH = KLM_BUTTON_IMAGE_WIDTH;
constexpr int HEIGHT = KLM_BUTTON_IMAGE_HEIGHT;
constexpr int ROW_BYTES = KLM_BUTTON_IMAGE_ROW_BYTES;
constexpr int NUMBER_BITS = 5;
constexpr int MARK_SIZE = 4;
constexpr int MARK_PITCH = 6;
constexpr int MARKS_LEFT = (WIDTH - (NUMBER_BITS - 1) * MARK_PITCH - MARK_SIZE) / 2;
constexpr int MARKS_TOP = (HEIGHT - MARK_SIZE) / 2;

constexpr void setPixel(ButtonImage::Bytes& bytes, int x, int y) {
    bytes[static_cast<size_t>(y * ROW_BYTES + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

constexpr ButtonImage::Bytes numberedFrame(int number) {
    ButtonImage::Bytes bytes{};
    for (int x = 0; x < WIDTH; ++x) {
        setPixel(bytes, x, 0);
        setPixel(bytes, x, HEIGHT - 1);
    }
    for (int y = 0; y < HEIGHT; ++y) {
        setPixel(bytes, 0, y);
        setPixel(bytes, WIDTH - 1, y);
    }
    for (int bit = 0; bit < NUMBER_BITS; ++bit) {
        const bool set = (number >> (NUMBER_BITS - 1 - bit)) & 1;
        const int left = MARKS_LEFT + bit * MARK_PITCH;
        for (int dy = 0; dy < MARK_SIZE; ++dy) {
            for (int dx = 0; dx < MARK_SIZE; ++dx) {
                const bool edge = dx == 0 || dy == 0 || dx == MARK_SIZE - 1 || dy == MARK_SIZE - 1;
                if (set || edge) {
                    setPixel(bytes, left + dx, MARKS_TOP + dy);
                }
            }
        }
    }
    return bytes;
}

constexpr std::array<ButtonImage::Bytes, DEFAULT_IMAGE_COUNT> numberedFrames() {
    std::array<ButtonImage::Bytes, DEFAULT_IMAGE_COUNT> images{};
    for (int i = 0; i < DEFAULT_IMAGE_COUNT; ++i) {
        images[static_cast<size_t>(i)] = numberedFrame(i);
    }
    return images;
}

constexpr std::array<ButtonImage::Bytes, DEFAULT_IMAGE_COUNT> DEFAULT_IMAGES = numberedFrames();

}  // namespace

const std::array<ButtonImage::Bytes, DEFAULT_IMAGE_COUNT>& defaultButtonImages() {
    return DEFAULT_IMAGES;
}

}  // namespace keylight
