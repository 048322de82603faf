// Pictures for the image command: the PNG and BMP files people have, turned into the one kind
// of file keylight draws (a 24-bit uncompressed BMP with a 40-byte information header), cut
// to what shows on the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keylightsend {

// Larger pictures are refused before anything is allocated for them. The screen shows at
// most 128 x 128 pixels; this bound only keeps a hostile header from asking for gigabytes.
constexpr uint32_t PICTURE_SIDE_MAX = 8192;
// The largest picture file read: an uncompressed 32-bit BMP of PICTURE_SIDE_MAX a side behind
// the largest header. Reading stops there, so that a device or an endless file is refused.
constexpr size_t PICTURE_FILE_MAX = 14 + 124 + 4 * size_t{PICTURE_SIDE_MAX} * PICTURE_SIDE_MAX;

// The part of a picture that shows, top row first, three bytes red, green, blue per pixel.
struct ScreenPicture {
    uint32_t file_width = 0;  // the whole picture, as its file has it
    uint32_t file_height = 0;
    uint32_t width = 0;  // the part that shows: at most the room the position leaves
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// Reads the PNG or BMP file image `file` (named `name` in messages) and keeps its top-left
// room_width x room_height pixels (both 1..128). Transparent pixels are drawn over black, the
// colour of a cleared screen. Refuses any other format, and BMP kinds it cannot read, naming
// them; refuses pictures with no pixels, larger than PICTURE_SIDE_MAX a side, cut short, or
// whose pixels cannot be what the header claims (RLE data leaving its row or the picture, palette
// indices past the palette), wherever they are, shown or not.
bool read_picture(const std::string& name, const std::vector<uint8_t>& file, uint32_t room_width,
                  uint32_t room_height, ScreenPicture& picture, std::string& error);

// The picture as a 24-bit bottom-up BMP file with a 40-byte information header.
std::vector<uint8_t> bmp24_of(const ScreenPicture& picture);

}  // namespace keylightsend
