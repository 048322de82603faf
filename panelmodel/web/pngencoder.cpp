#include "pngencoder.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace panelsim {

namespace {

void appendToString(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

void flushNothing(png_structp) {}

// One row of all the pictures after another, for each screen row.
std::vector<png_byte> rgb888(const std::vector<Picture>& pictures) {
    const size_t width = pictures.size() * SCREEN_WIDTH;
    std::vector<png_byte> rgb(width * SCREEN_HEIGHT * 3);
    for (size_t n = 0; n < pictures.size(); ++n) {
        for (size_t i = 0; i < SCREEN_PIXELS; ++i) {
            const unsigned p = pictures[n][i];
            const unsigned r = (p >> 11) & 0x1F;
            const unsigned g = (p >> 5) & 0x3F;
            const unsigned b = p & 0x1F;
            png_byte* out =
                rgb.data() + 3 * ((i / SCREEN_WIDTH) * width + n * SCREEN_WIDTH + i % SCREEN_WIDTH);
            out[0] = static_cast<png_byte>(r << 3 | r >> 2);
            out[1] = static_cast<png_byte>(g << 2 | g >> 4);
            out[2] = static_cast<png_byte>(b << 3 | b >> 2);
        }
    }
    return rgb;
}

// Kept apart from encodePng so that no object with a destructor lives across setjmp.
bool writePng(png_structp png, png_infop info, png_uint_32 width, png_bytepp rows,
              std::string& out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &out, appendToString, flushNothing);
    png_set_IHDR(png, info, width, SCREEN_HEIGHT, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

}  // namespace

std::string encodePng(const std::vector<Picture>& pictures) {
    if (pictures.empty())
        return {};
    const size_t width = pictures.size() * SCREEN_WIDTH;
    std::vector<png_byte> rgb = rgb888(pictures);
    std::vector<png_bytep> rows(SCREEN_HEIGHT);
    for (int y = 0; y < SCREEN_HEIGHT; ++y)
        rows[y] = rgb.data() + y * width * 3;
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    const bool written =
        info != nullptr && writePng(png, info, static_cast<png_uint_32>(width), rows.data(), out);
    png_destroy_write_struct(&png, &info);
    return written ? out : std::string{};
}

}  // namespace panelsim
