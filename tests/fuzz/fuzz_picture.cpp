// keylight-send's picture readers: PNG, and BMP of every kind it reads. The first two bytes of an
// input give the room its position leaves on the screen (1..128 pixels each way), the rest is
// the file. A refusal is one line; a picture read is the file's own cut to that room, and the
// BMP file made of it shows, decoded as keylight decodes it, exactly the pixels read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "panel.h"
#include "sendpicture.h"

namespace {

constexpr size_t ROOM_BYTES = 2;

uint16_t rgb565(const uint8_t* rgb) {
    return static_cast<uint16_t>(((rgb[0] & 0xF8) << 8) | ((rgb[1] & 0xFC) << 3) | (rgb[2] >> 3));
}

void checkSent(const keylightsend::ScreenPicture& picture) {
    const std::vector<uint8_t> bmp = keylightsend::bmp24_of(picture);
    int width = 0;
    int height = 0;
    uint16_t* pixels = nullptr;
    if (bmp_decode(bmp.data(), bmp.size(), &width, &height, &pixels) != 0) {
        fuzzsupport::fail("keylight cannot decode the BMP file made of a picture");
    }
    const bool sameSize =
        width == static_cast<int>(picture.width) && height == static_cast<int>(picture.height);
    bool samePixels = sameSize;
    for (size_t i = 0; samePixels && i < size_t{picture.width} * picture.height; ++i) {
        samePixels = pixels[i] == rgb565(&picture.rgb[3 * i]);
    }
    std::free(pixels);
    if (!samePixels) {
        fuzzsupport::fail("keylight would draw other pixels than the picture read");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < ROOM_BYTES) {
        return 0;
    }
    const uint32_t roomWidth = data[0] % 128 + 1u;
    const uint32_t roomHeight = data[1] % 128 + 1u;
    const std::vector<uint8_t> file(data + ROOM_BYTES, data + size);
    keylightsend::ScreenPicture picture;
    std::string error;
    if (!keylightsend::read_picture("picture", file, roomWidth, roomHeight, picture, error)) {
        if (error.empty() || error.find('\n') != std::string::npos) {
            fuzzsupport::fail("a refusal is not one line");
        }
        return 0;
    }
    if (picture.file_width == 0 || picture.file_height == 0 ||
        picture.width != std::min(picture.file_width, roomWidth) ||
        picture.height != std::min(picture.file_height, roomHeight) ||
        picture.rgb.size() != size_t{picture.width} * picture.height * 3) {
        fuzzsupport::fail("a picture read is not the file's own cut to the room");
    }
    checkSent(picture);
    return 0;
}
