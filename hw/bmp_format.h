#pragma once

// The BMP file format as the hardware library reads it and keylight-send writes it: the
// 14-byte file header, then the information header (40 bytes in the files keylight takes,
// larger in newer writers), all little-endian.

#include <cstddef>
#include <cstdint>

constexpr size_t BMP_FILE_HEADER_BYTES = 14;
constexpr uint32_t BMP_INFO_HEADER_BYTES = 40;

// Byte offsets from the start of the file.
constexpr size_t BMP_PIXEL_OFFSET_AT = 10;
constexpr size_t BMP_INFO_SIZE_AT = 14;
constexpr size_t BMP_WIDTH_AT = 18;
constexpr size_t BMP_HEIGHT_AT = 22;
constexpr size_t BMP_PLANES_AT = 26;
constexpr size_t BMP_BITS_AT = 28;
constexpr size_t BMP_COMPRESSION_AT = 30;
constexpr size_t BMP_COLOURS_USED_AT = 46;
// Red, green and blue masks: in the information header or right after a 40-byte one.
constexpr size_t BMP_MASKS_AT = 54;
// Only in information headers of 56 bytes and more.
constexpr size_t BMP_ALPHA_MASK_AT = 66;

// Compression codes.
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

inline uint16_t bmp_le16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

inline uint32_t bmp_le32(const uint8_t* at) {
    return uint32_t{at[0]} | (uint32_t{at[1]} << 8) | (uint32_t{at[2]} << 16) |
           (uint32_t{at[3]} << 24);
}
