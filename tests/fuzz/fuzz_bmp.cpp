// The BMP decoder and the drawing of a picture on the FPGA model. The first three bytes of an
// input choose the screen (0..2 or -1) and the signed x and y position; the rest is the file.
// A picture that fits the screen where it is placed must show there exactly as decoded.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fpgamodel.h"
#include "fuzz_support.h"
#include "inprocessdevice.h"
#include "panel.h"

namespace {

constexpr size_t PLACEMENT_BYTES = 3;
constexpr size_t BMP_HEADER_BYTES = 54;

struct Board {
    panelsim::FpgaModel model;
    panelsim::InProcessDevice device{model};
    Board() { panel_open(); }
};

struct Decoded {
    int width = -1;
    int height = -1;
    std::vector<uint16_t> pixels;  // top row first
};

bool decode(const uint8_t* bmp, size_t length, Decoded& out) {
    uint16_t* pixels = nullptr;
    if (bmp_decode(bmp, length, &out.width, &out.height, &pixels) != 0) {
        return false;
    }
    const long long count = static_cast<long long>(out.width) * out.height;
    if (out.width < 0 || out.height < 0 || (pixels == nullptr && count > 0)) {
        fuzzsupport::fail("a decoded picture has no pixels for its size");
    }
    out.pixels.assign(pixels, pixels + count);
    std::free(pixels);
    return true;
}

bool fits(const Decoded& picture, int screen, int x, int y) {
    return screen >= 0 && x >= 0 && y >= 0 && picture.height > 0 &&
           x + picture.width <= panelsim::SCREEN_WIDTH &&
           y + picture.height <= panelsim::SCREEN_HEIGHT;
}

void checkShown(const Board& board, const Decoded& picture, int screen, int x, int y) {
    const panelsim::Picture shown = board.model.picture(screen);
    for (int row = 0; row < picture.height; ++row) {
        for (int column = 0; column < picture.width; ++column) {
            const size_t at = static_cast<size_t>((y + row) * panelsim::SCREEN_WIDTH + x + column);
            if (shown[at] != picture.pixels[static_cast<size_t>(row * picture.width + column)]) {
                fuzzsupport::fail("the screen does not show the decoded picture");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Board board;
    if (size < PLACEMENT_BYTES) {
        return 0;
    }
    const int screen = data[0] % 4 - 1;
    const int x = static_cast<int8_t>(data[1]);
    const int y = static_cast<int8_t>(data[2]);
    const uint8_t* bmp = data + PLACEMENT_BYTES;
    const size_t length = size - PLACEMENT_BYTES;

    uint8_t header[BMP_HEADER_BYTES];
    bmp_header_check(bmp, length, header);
    Decoded picture;
    const bool decoded = decode(bmp, length, picture);
    const int drawn = tft_draw_bmp(screen, x, y, bmp, length);
    if (decoded != (drawn == 0)) {
        fuzzsupport::fail("drawing and decoding disagree on whether the file is a picture");
    }
    if (decoded && fits(picture, screen, x, y)) {
        checkShown(board, picture, screen, x, y);
    }
    return 0;
}
