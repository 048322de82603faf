// BMP pictures, blanking and backlight intensity of the TFT screens.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "bmp_format.h"
#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

namespace {

constexpr size_t BMP_HEADER_SIZE = BMP_FILE_HEADER_BYTES + BMP_INFO_HEADER_BYTES;
constexpr long long BMP_MAX_PIXELS = 0xFFFF;  // what one burst count can carry

int32_t le32_signed(const uint8_t* p) {
    return static_cast<int32_t>(bmp_le32(p));
}

// Checks what the header promises against the bytes carried: one message and false for the
// first thing that does not fit.
bool bmp_geometry_check(const uint8_t* bmp, size_t length, int width, int height) {
    if (width < 1) {
        log_printf(log_priority::err,
                   "BMP width %d is not supported: it must be at least 1. Exiting.\n", width);
        return false;
    }
    if (height < 0) {
        log_puts(log_priority::err, "Top-down BMP's (negative height) are not supported. Exiting.");
        return false;
    }
    if (static_cast<long long>(width) * height > BMP_MAX_PIXELS) {
        log_printf(log_priority::err,
                   "BMP of %d x %d pixels is larger than the 65535 pixels of one transfer. "
                   "Exiting.\n",
                   width, height);
        return false;
    }
    const unsigned long long offset = bmp_le32(bmp + BMP_PIXEL_OFFSET_AT);
    if (offset > length) {
        log_printf(log_priority::err,
                   "BMP pixel data offset %llu lies outside the %llu bytes of data. Exiting.\n",
                   offset, static_cast<unsigned long long>(length));
        return false;
    }
    if (height == 0) {
        return true;
    }
    // The last row's padding is skipped, never read, so it need not be there.
    const unsigned long long row_bytes = 3ull * width + (width & 3);
    const unsigned long long needed = offset + row_bytes * (height - 1) + 3ull * width;
    if (needed > length) {
        log_printf(log_priority::err,
                   "BMP pixel rows need %llu bytes but the data has %llu. Exiting.\n", needed,
                   static_cast<unsigned long long>(length));
        return false;
    }
    return true;
}

uint16_t blank_screen[SCREEN_WIDTH * SCREEN_HEIGHT];

}  // namespace

uint16_t bgr_to_565(uint8_t b, uint8_t g, uint8_t r) {
    return static_cast<uint16_t>(((r << 8) & 0xF800) + ((g << 3) & 0x07E0) + (b >> 3));
}

int bmp_header_check(const uint8_t* bmp, size_t length, uint8_t* header_out) {
    if (!bmp) {
        log_puts(log_priority::err, "BMP Data pointer is NULL! Exiting.");
        return -1;
    }
    if (length < BMP_HEADER_SIZE) {
        log_printf(log_priority::err,
                   "BMP data of %llu bytes is shorter than its 54-byte header. Exiting.\n",
                   static_cast<unsigned long long>(length));
        return -1;
    }
    if (bmp[0] != 'B' || bmp[1] != 'M') {
        log_printf(log_priority::err, "Invalid BMP Signature ('%c', '%c')!  Exiting.\n", bmp[0],
                   bmp[1]);
        return -1;
    }
    if (bmp_le32(bmp + BMP_INFO_SIZE_AT) != BMP_INFO_HEADER_BYTES) {
        log_puts(log_priority::err, "DIB Header Size is invalid. Exiting.");
        return -1;
    }
    if (bmp_le16(bmp + BMP_PLANES_AT) != 1) {
        log_puts(log_priority::err, "\tInvalid number of colour planes! Exiting.");
        return -1;
    }
    if (header_out) {
        std::memcpy(header_out, bmp, BMP_HEADER_SIZE);
    }
    return 0;
}

int bmp_decode(const uint8_t* bmp, size_t length, int* width, int* height, uint16_t** pixels) {
    if (!bmp) {
        log_puts(log_priority::err, "BMP Data pointer is NULL! Exiting.");
        return -1;
    }
    if (!width || !height || !pixels) {
        log_puts(log_priority::err, "One of the output pointers is NULL!");
        return -1;
    }
    *pixels = nullptr;
    *width = -1;
    *height = -1;
    if (bmp_header_check(bmp, length, nullptr) != 0) {
        return -1;
    }
    if (bmp_le16(bmp + BMP_BITS_AT) != 24) {
        log_puts(log_priority::err, "Only 24-bit depth BMP's are supported at this time.");
        return -1;
    }
    const int w = le32_signed(bmp + BMP_WIDTH_AT);
    const int h = le32_signed(bmp + BMP_HEIGHT_AT);
    if (!bmp_geometry_check(bmp, length, w, h)) {
        return -1;
    }
    // At least one element, so that an image of no rows still gets an array to free.
    uint16_t* out = static_cast<uint16_t*>(std::malloc(std::max(1, w * h) * sizeof(uint16_t)));
    if (!out) {
        log_puts(log_priority::err, "Could not allocate array for pixel data.");
        return -1;
    }
    // Rows are stored bottom-up, each padded to a multiple of four bytes.
    const uint8_t* source = bmp + bmp_le32(bmp + BMP_PIXEL_OFFSET_AT);
    const int padding = w & 3;
    for (int row = h - 1; row >= 0; --row) {
        uint16_t* line = out + row * w;
        for (int x = 0; x < w; ++x) {
            line[x] = bgr_to_565(source[0], source[1], source[2]);
            source += 3;
        }
        source += padding;
    }
    *pixels = out;
    *width = w;
    *height = h;
    return 0;
}

// The position comes from a client: its sums are taken in 64 bits, so that no position
// overflows; the register gets the low byte of the clamped bound, as for any position.
void window_image_rows(int mask, int y, int height) {
    const long long top = y;
    const int first =
        static_cast<int>(std::max<long long>(top + TFT_FIRST_ROW, TFT_FIRST_ROW) & 0xFF);
    const int last = static_cast<int>(std::min<long long>(top + height, TFT_LAST_ROW) & 0xFF);
    tft_register(mask, TFT_REG_WINDOW_ROWS, static_cast<uint16_t>((last << 8) | first));
}

void window_image_columns(int mask, int x, int width) {
    const long long left = x;
    const int first =
        static_cast<int>(std::max<long long>(left + TFT_FIRST_COLUMN, TFT_FIRST_COLUMN) & 0xFF);
    const int last = static_cast<int>(
        std::min<long long>(left + width + TFT_FIRST_COLUMN - 1, TFT_LAST_COLUMN) & 0xFF);
    tft_register(mask, TFT_REG_WINDOW_COLUMNS, static_cast<uint16_t>((last << 8) | first));
}

int tft_draw_bmp(int screenId, int x, int y, const uint8_t* bmp, size_t length) {
    if (!bmp) {
        log_printf(log_priority::err, "Input parameter 'data' pointer is NULL.");
        return -1;
    }
    const int mask = screen_mask(screenId);
    if (mask < 0) {
        return -1;
    }
    int width = 0;
    int height = 0;
    uint16_t* pixels = nullptr;
    if (bmp_decode(bmp, length, &width, &height, &pixels) != 0) {
        return -1;
    }
    window_image_rows(mask, y, height);
    window_image_columns(mask, x, width);
    start_pixel_transfer(mask);
    tft_pixels(mask, pixels, static_cast<uint32_t>(width * height));
    std::free(pixels);
    tft_full_window();
    return 0;
}

void tft_blackout(int screenId) {
    std::fill(std::begin(blank_screen), std::end(blank_screen), rgb24_to_565(0x000000));
    tft_fill_screen(screenId, blank_screen);
}

void tft_fill_screen(int screenId, uint16_t* pixels) {
    const int mask = screen_mask(screenId);
    if (mask < 0) {
        return;
    }
    tft_full_window();
    start_pixel_transfer(mask);
    tft_pixels(mask, pixels, SCREEN_WIDTH * SCREEN_HEIGHT);
}

int tft_intensity(int percent) {
    const unsigned level_percent = static_cast<unsigned>(percent);
    if (level_percent > 100) {
        log_printf(log_priority::err,
                   "TFT Intensity is out of range: Must be between 0 and 100 %%.\n");
        return -1;
    }
    const unsigned level = level_percent * PANEL_BACKLIGHT_LEVEL_MAX / 100;
    reg_write_high(REG_PANEL_CONTROL, static_cast<uint8_t>((level | PANEL_BACKLIGHT_ON) & 0xFF));
    return 0;
}
