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

std::vector<png_byte> rgb888(const Picture& picture) {
    std::vector<png_byte> rgb(picture.size() * 3);
    for (size_t i = 0; i < picture.size(); ++i) {
        const unsigned p = picture[i];
        const unsigned r = (p >> 11) & 0x1F;
        const unsigned g = (p >> 5) & 0x3F;
        const unsigned b = p & 0x1F;
        rgb[3 * i] = static_cast<png_byte>(r << 3 | r >> 2);
        rgb[3 * i + 1] = static_cast<png_byte>(g << 2 | g >> 4);
        rgb[3 * i + 2] = static_cast<png_byte>(b << 3 | b >> 2);
    }
    return rgb;
}

// Kept apart from encodePng so that no object with a destructor lives across setjmp.
bool writePng(png_structp png, png_infop info, png_bytepp rows, std::string& out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &out, appendToString, flushNothing);
    png_set_IHDR(png, info, SCREEN_WIDTH, SCREEN_HEIGHT, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

}  // namespace

std::string encodePng(const Picture& picture) {
    std::vector<png_byte> rgb = rgb888(picture);
    std::vector<png_bytep> rows(SCREEN_HEIGHT);
    for (int y = 0; y < SCREEN_HEIGHT; ++y)
        rows[y] = rgb.data() + y * SCREEN_WIDTH * 3;
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    const bool written = info != nullptr && writePng(png, info, rows.data(), out);
    png_destroy_write_struct(&png, &info);
    return written ? out : std::string{};
}

}  // namespace panelsim
