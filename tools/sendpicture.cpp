#include "sendpicture.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "bmp_format.h"

namespace keylightsend {
namespace {

constexpr uint16_t KEYLIGHT_BITS_PER_PIXEL = 24;

// A format by the bytes its files begin with, so that a refusal can say what the file is.
struct Signature {
    size_t at;
    const char* bytes;
    size_t length;
    const char* format;
};
const Signature SIGNATURES[] = {
    {0, "\x89PNG\r\n\x1a\n", 8, "PNG"},
    {0, "BM", 2, "BMP"},
    {0, "\xFF\xD8\xFF", 3, "JPEG"},
    {0, "GIF8", 4, "GIF"},
    {0, "II*\0", 4, "TIFF"},
    {0, "MM\0*", 4, "TIFF"},
    {8, "WEBP", 4, "WebP"},
    {0, "\0\0\1\0", 4, "Windows icon"},
};

// Information header sizes of the BMP versions read here (OS/2 1.x, 3, its two Adobe variants,
// 4, 5).
constexpr uint32_t BMP_CORE_HEADER_BYTES = 12;
const uint32_t BMP_HEADER_SIZES[] = {BMP_CORE_HEADER_BYTES, 40, 52, 56, 108, 124};

// The OS/2 1.x header's fields: 16-bit width and height, planes and bits per pixel.
constexpr size_t CORE_WIDTH_AT = 18;
constexpr size_t CORE_HEIGHT_AT = 20;
constexpr size_t CORE_PLANES_AT = 22;
constexpr size_t CORE_BITS_AT = 24;
const uint32_t CORE_BITS[] = {1, 4, 8, 24};

// Pixel layouts read here: bits per pixel and compression.
struct BmpKind {
    uint16_t bits;
    uint32_t compression;
};
const BmpKind BMP_KINDS[] = {
    {1, BI_RGB},  {4, BI_RGB},        {4, BI_RLE4}, {8, BI_RGB},  {8, BI_RLE8},
    {16, BI_RGB}, {16, BI_BITFIELDS}, {24, BI_RGB}, {32, BI_RGB}, {32, BI_BITFIELDS},
};

struct CompressionName {
    uint32_t code;
    const char* name;
};
const CompressionName COMPRESSION_NAMES[] = {
    {1, "RLE8"}, {2, "RLE4"}, {3, "bit-field"}, {4, "JPEG"}, {5, "PNG"}, {6, "alpha bit-field"},
};

const char* format_of(const std::vector<uint8_t>& file) {
    for (const Signature& signature : SIGNATURES) {
        if (file.size() >= signature.at + signature.length &&
            std::memcmp(file.data() + signature.at, signature.bytes, signature.length) == 0) {
            return signature.format;
        }
    }
    return nullptr;
}

bool check_dimensions(const std::string& name, int64_t width, int64_t height, std::string& error) {
    if (width <= 0 || height <= 0) {
        error = name + " has no pixels";
        return false;
    }
    if (width > PICTURE_SIDE_MAX || height > PICTURE_SIDE_MAX) {
        error = name + " is " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels; keylight-send takes pictures of at most " +
                std::to_string(PICTURE_SIDE_MAX) + " x " + std::to_string(PICTURE_SIDE_MAX);
        return false;
    }
    return true;
}

// Sizes the picture to what shows of a file_width x file_height picture; every pixel black.
void fit_to_room(ScreenPicture& picture, uint32_t file_width, uint32_t file_height,
                 uint32_t room_width, uint32_t room_height) {
    picture.file_width = file_width;
    picture.file_height = file_height;
    picture.width = std::min(file_width, room_width);
    picture.height = std::min(file_height, room_height);
    picture.rgb.assign(static_cast<size_t>(picture.width) * picture.height * 3, 0);
}

// Sets a pixel, weighting the colour by its opacity: what a transparent pixel leaves is black.
void put_pixel(ScreenPicture& picture, uint32_t x, uint32_t y, uint32_t red, uint32_t green,
               uint32_t blue, uint32_t alpha) {
    uint8_t* at = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
    at[0] = static_cast<uint8_t>((red * alpha + 127) / 255);
    at[1] = static_cast<uint8_t>((green * alpha + 127) / 255);
    at[2] = static_cast<uint8_t>((blue * alpha + 127) / 255);
}

// The value of one colour channel under its mask, scaled to 0..255.
uint32_t channel(uint32_t value, uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const uint64_t top = mask >> shift;
    return static_cast<uint32_t>((static_cast<uint64_t>((value & mask) >> shift) * 255 + top / 2) /
                                 top);
}

// ---- BMP --------------------------------------------------------------------------------

struct BmpLayout {
    uint32_t bits = 0;
    uint32_t compression = 0;
    uint64_t pixel_offset = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool top_down = false;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    const uint8_t* palette = nullptr;
    uint32_t palette_count = 0;
    // Blue, green, red and an unused byte; OS/2 1.x entries have no fourth.
    uint32_t palette_entry_bytes = 4;
};

std::string cut_short(const std::string& name, size_t size) {
    return name + " is cut short (" + std::to_string(size) + " bytes)";
}

std::string damaged(const std::string& name, const std::string& defect) {
    return name + " is damaged: " + defect;
}

bool check_bmp_kind(const std::string& name, uint32_t bits, uint32_t compression,
                    std::string& error) {
    for (const BmpKind& kind : BMP_KINDS) {
        if (kind.bits == bits && kind.compression == compression) {
            return true;
        }
    }
    error = name + " is a " + std::to_string(bits) + "-bit BMP";
    if (compression != BI_RGB) {
        std::string method = "type " + std::to_string(compression);
        for (const CompressionName& known : COMPRESSION_NAMES) {
            if (known.code == compression) {
                method = known.name;
            }
        }
        error += " with " + method + " compression";
    }
    error += ", which keylight-send cannot read";
    return false;
}

// Bytes of one stored row: rows are padded to a multiple of 4 bytes.
uint64_t bmp_stride(const BmpLayout& layout) {
    return (static_cast<uint64_t>(layout.bits) * layout.width + 31) / 32 * 4;
}

// Size, depth and compression from the information header; an OS/2 1.x header has 16-bit sizes
// and no compression field.
bool read_bmp_header(const std::string& name, const std::vector<uint8_t>& file,
                     uint32_t header_size, BmpLayout& layout, std::string& error) {
    const uint8_t* bytes = file.data();
    int64_t width = 0;
    int64_t rows = 0;
    uint32_t planes = 0;
    if (header_size == BMP_CORE_HEADER_BYTES) {
        width = bmp_le16(bytes + CORE_WIDTH_AT);
        rows = bmp_le16(bytes + CORE_HEIGHT_AT);
        planes = bmp_le16(bytes + CORE_PLANES_AT);
        layout.bits = bmp_le16(bytes + CORE_BITS_AT);
        layout.compression = BI_RGB;
        layout.palette_entry_bytes = 3;
        if (std::find(std::begin(CORE_BITS), std::end(CORE_BITS), layout.bits) ==
            std::end(CORE_BITS)) {
            error = name + " is an OS/2 BMP of " + std::to_string(layout.bits) +
                    " bits a pixel, which keylight-send cannot read";
            return false;
        }
    } else {
        width = static_cast<int32_t>(bmp_le32(bytes + BMP_WIDTH_AT));
        const auto height = static_cast<int32_t>(bmp_le32(bytes + BMP_HEIGHT_AT));
        // A negative height means the rows are stored top row first; INT32_MIN has no opposite
        // in 32 bits.
        layout.top_down = height < 0;
        rows = layout.top_down ? -static_cast<int64_t>(height) : height;
        planes = bmp_le16(bytes + BMP_PLANES_AT);
        layout.bits = bmp_le16(bytes + BMP_BITS_AT);
        layout.compression = bmp_le32(bytes + BMP_COMPRESSION_AT);
    }
    if (planes != 1) {
        error = name + " is a BMP with " + std::to_string(planes) +
                " colour planes, which keylight-send cannot read";
        return false;
    }
    if (!check_bmp_kind(name, layout.bits, layout.compression, error) ||
        !check_dimensions(name, width, rows, error)) {
        return false;
    }
    layout.width = static_cast<uint32_t>(width);
    layout.height = static_cast<uint32_t>(rows);
    return true;
}

bool read_bmp_layout(const std::string& name, const std::vector<uint8_t>& file, BmpLayout& layout,
                     std::string& error) {
    const uint8_t* bytes = file.data();
    if (file.size() < BMP_INFO_SIZE_AT + 4) {
        error = cut_short(name, file.size());
        return false;
    }
    const uint32_t header_size = bmp_le32(bytes + BMP_INFO_SIZE_AT);
    if (std::find(std::begin(BMP_HEADER_SIZES), std::end(BMP_HEADER_SIZES), header_size) ==
        std::end(BMP_HEADER_SIZES)) {
        error = name + " is a BMP with a " + std::to_string(header_size) +
                "-byte header, which keylight-send cannot read";
        return false;
    }
    if (file.size() < BMP_FILE_HEADER_BYTES + header_size) {
        error = cut_short(name, file.size());
        return false;
    }
    if (!read_bmp_header(name, file, header_size, layout, error)) {
        return false;
    }
    layout.pixel_offset = bmp_le32(bytes + BMP_PIXEL_OFFSET_AT);

    if (layout.compression == BI_BITFIELDS) {
        if (file.size() < BMP_MASKS_AT + 12) {
            error = cut_short(name, file.size());
            return false;
        }
        for (size_t i = 0; i < 3; ++i) {
            layout.masks[i] = bmp_le32(bytes + BMP_MASKS_AT + 4 * i);
        }
        layout.masks[3] = header_size >= BMP_ALPHA_MASK_AT + 4 - BMP_FILE_HEADER_BYTES
                              ? bmp_le32(bytes + BMP_ALPHA_MASK_AT)
                              : 0;
    } else if (layout.bits == 16) {
        const uint32_t rgb555[4] = {0x7C00, 0x03E0, 0x001F, 0};
        std::copy(std::begin(rgb555), std::end(rgb555), layout.masks);
    } else if (layout.bits == 32) {
        const uint32_t rgb888[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0};
        std::copy(std::begin(rgb888), std::end(rgb888), layout.masks);
    }

    if (layout.bits <= 8) {
        const uint32_t entries = 1u << layout.bits;
        const uint32_t used =
            header_size == BMP_CORE_HEADER_BYTES ? 0 : bmp_le32(bytes + BMP_COLOURS_USED_AT);
        layout.palette_count = used == 0 ? entries : std::min(used, entries);
        const uint64_t palette_at = BMP_FILE_HEADER_BYTES + header_size;
        if (palette_at + uint64_t{layout.palette_entry_bytes} * layout.palette_count >
            file.size()) {
            error = cut_short(name, file.size());
            return false;
        }
        layout.palette = bytes + palette_at;
    }

    const bool run_length = layout.compression == BI_RLE8 || layout.compression == BI_RLE4;
    if (layout.pixel_offset > file.size() ||
        (!run_length && bmp_stride(layout) * layout.height > file.size() - layout.pixel_offset)) {
        error = cut_short(name, file.size());
        return false;
    }
    return true;
}

// A palette index of pixel x,y (0,0 the top left): refused past the palette, where the file
// holds no colour for it.
bool put_palette_pixel(const std::string& name, ScreenPicture& picture, const BmpLayout& layout,
                       uint64_t x, uint64_t y, uint32_t index, std::string& error) {
    if (index >= layout.palette_count) {
        error = damaged(name, "pixel " + std::to_string(x) + "," + std::to_string(y) +
                                  " is colour " + std::to_string(index) + ", past its palette of " +
                                  std::to_string(layout.palette_count) + " colours");
        return false;
    }
    if (x < picture.width && y < picture.height) {
        const uint8_t* entry = layout.palette + layout.palette_entry_bytes * index;
        put_pixel(picture, static_cast<uint32_t>(x), static_cast<uint32_t>(y), entry[2], entry[1],
                  entry[0], 255);
    }
    return true;
}

// Row y of the picture (0 the top) in the file's row order, and the other way round.
uint64_t stored_row(const BmpLayout& layout, uint64_t y) {
    return layout.top_down ? y : layout.height - 1 - y;
}

// Palette pictures are read whole, so that an index past the palette is found where it does
// not show too; other pictures only as far as they show.
bool decode_bmp_rows(const std::string& name, const std::vector<uint8_t>& file,
                     const BmpLayout& layout, ScreenPicture& picture, std::string& error) {
    const uint64_t stride = bmp_stride(layout);
    const bool indexed = layout.bits <= 8;
    const uint32_t rows = indexed ? layout.height : picture.height;
    const uint32_t columns = indexed ? layout.width : picture.width;
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = file.data() + layout.pixel_offset + stored_row(layout, y) * stride;
        for (uint32_t x = 0; x < columns; ++x) {
            if (indexed) {
                const uint32_t bit = x * layout.bits;
                const uint32_t index =
                    (row[bit / 8] >> (8 - layout.bits - bit % 8)) & ((1u << layout.bits) - 1);
                if (!put_palette_pixel(name, picture, layout, x, y, index, error)) {
                    return false;
                }
            } else if (layout.bits == 24) {
                const uint8_t* pixel = row + 3 * x;  // blue, green, red
                put_pixel(picture, x, y, pixel[2], pixel[1], pixel[0], 255);
            } else {
                const uint32_t value =
                    layout.bits == 16 ? bmp_le16(row + 2 * x) : bmp_le32(row + 4 * x);
                const uint32_t alpha = layout.masks[3] ? channel(value, layout.masks[3]) : 255;
                put_pixel(picture, x, y, channel(value, layout.masks[0]),
                          channel(value, layout.masks[1]), channel(value, layout.masks[2]), alpha);
            }
        }
    }
    return true;
}

// Pixel i of a run: RLE8 holds one index a byte, RLE4 two, the high half first. A repeated run
// repeats its one byte.
uint32_t run_index(const BmpLayout& layout, const uint8_t* run, uint32_t i, bool repeated) {
    if (layout.compression == BI_RLE8) {
        return repeated ? run[0] : run[i];
    }
    const uint8_t byte = repeated ? run[0] : run[i / 2];
    return i % 2 == 0 ? byte >> 4 : byte & 0x0F;
}

// Repeated runs, literal runs, line ends and jumps. A run may fill the padding of its row, as
// ImageMagick's do, but no further; pixels the stream skips stay black. Data after the last row
// has ended may only be the end-of-bitmap mark, and only that may be missing.
bool decode_bmp_rle(const std::string& name, const std::vector<uint8_t>& file,
                    const BmpLayout& layout, ScreenPicture& picture, std::string& error) {
    const uint64_t row_room = bmp_stride(layout) * 8 / layout.bits;
    uint64_t x = 0;
    uint64_t row = 0;  // in the file's order
    auto fits = [&](uint32_t count) {
        if (row >= layout.height) {
            error = damaged(name, "its RLE data runs on past the last row");
            return false;
        }
        if (x + count > row_room) {
            error = damaged(name, "its RLE data runs past the end of row " +
                                      std::to_string(stored_row(layout, row)));
            return false;
        }
        return true;
    };
    auto put = [&](const uint8_t* run, uint32_t count, bool repeated) {
        for (uint32_t i = 0; i < count; ++i, ++x) {
            if (x < layout.width &&
                !put_palette_pixel(name, picture, layout, x, stored_row(layout, row),
                                   run_index(layout, run, i, repeated), error)) {
                return false;
            }
        }
        return true;
    };
    for (size_t at = static_cast<size_t>(layout.pixel_offset);;) {
        if (file.size() - at < 2) {
            if (at == file.size() && row >= layout.height) {
                return true;
            }
            error = cut_short(name, file.size());
            return false;
        }
        const uint32_t count = file[at];
        const uint8_t value = file[at + 1];
        at += 2;
        if (count > 0) {
            if (!fits(count) || !put(&value, count, true)) {
                return false;
            }
        } else if (value == 0) {  // end of line
            if (!fits(0)) {
                return false;
            }
            x = 0;
            ++row;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // jump right and up
            if (file.size() - at < 2) {
                error = cut_short(name, file.size());
                return false;
            }
            x += file[at];
            row += file[at + 1];
            at += 2;
            if (x > row_room || row >= layout.height) {
                error = damaged(name, "an RLE jump leads out of the picture");
                return false;
            }
        } else {  // value literal indices, padded to an even count of bytes
            const size_t bytes = layout.compression == BI_RLE8 ? value : (value + 1u) / 2;
            const size_t padded = bytes + (bytes & 1);
            if (file.size() - at < padded) {
                error = cut_short(name, file.size());
                return false;
            }
            if (!fits(value) || !put(&file[at], value, false)) {
                return false;
            }
            at += padded;
        }
    }
}

bool read_bmp(const std::string& name, const std::vector<uint8_t>& file, uint32_t room_width,
              uint32_t room_height, ScreenPicture& picture, std::string& error) {
    BmpLayout layout;
    if (!read_bmp_layout(name, file, layout, error)) {
        return false;
    }
    fit_to_room(picture, layout.width, layout.height, room_width, room_height);
    if (layout.compression == BI_RLE8 || layout.compression == BI_RLE4) {
        return decode_bmp_rle(name, file, layout, picture, error);
    }
    return decode_bmp_rows(name, file, layout, picture, error);
}

// ---- PNG --------------------------------------------------------------------------------

// libpng reports errors through a handler that must not return: it jumps back to read_png.
struct PngFailure {
    std::jmp_buf jump;
    std::string reason;
};

struct PngSource {
    const std::vector<uint8_t>* file;
    size_t at;
};

// Everything read_png_rows fills lives in read_png's frame, which a jump out of libpng returns to.
struct PngBuffers {
    PngSource source;
    std::vector<uint8_t> rows;  // the rows that show, 4 bytes red, green, blue, alpha per pixel
    std::vector<uint8_t> scratch;
    size_t row_bytes = 0;
};

void on_png_error(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    failure->reason = message;
    std::longjmp(failure->jump, 1);
}

void ignore_png_warning(png_structp, png_const_charp) {}

void read_png_bytes(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->file->size() - source->at) {
        png_error(png, "the file is cut short");
    }
    std::memcpy(out, source->file->data() + source->at, length);
    source->at += length;
}

// Reads the header, then the rows that show as 8-bit RGBA, whatever the file's colour type.
bool read_png_rows(png_structp png, png_infop info, const std::string& name, uint32_t room_height,
                   PngBuffers& buffers, std::string& error) {
    png_set_read_fn(png, &buffers.source, read_png_bytes);
    // libpng allocates what the length field of a text, profile or palette-suggestion chunk
    // claims before reading it, up to 2 GiB for a file of a few bytes; none of them changes a
    // pixel here, so they are skipped unread.
    static const png_byte SKIPPED_CHUNKS[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0pCAL\0sCAL";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, SKIPPED_CHUNKS,
                                sizeof SKIPPED_CHUNKS / 5);
    png_read_info(png, info);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    if (!check_dimensions(name, width, height, error)) {
        return false;
    }
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    buffers.row_bytes = static_cast<size_t>(width) * 4;
    if (png_get_rowbytes(png, info) != buffers.row_bytes) {
        error = name + " is a PNG whose pixels keylight-send cannot convert";
        return false;
    }
    const uint32_t shown = std::min(height, room_height);
    buffers.rows.assign(buffers.row_bytes * shown, 0);
    buffers.scratch.assign(buffers.row_bytes, 0);
    // An interlaced picture comes in passes over every row; a plain one can stop after what shows.
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < (passes == 1 ? shown : height); ++y) {
            png_read_row(png,
                         y < shown ? &buffers.rows[buffers.row_bytes * y] : buffers.scratch.data(),
                         nullptr);
        }
    }
    return true;
}

bool read_png(const std::string& name, const std::vector<uint8_t>& file, uint32_t room_width,
              uint32_t room_height, ScreenPicture& picture, std::string& error) {
    PngFailure failure;
    PngBuffers buffers{{&file, 0}, {}, {}, 0};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, on_png_error, ignore_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "no memory to read " + name;
        return false;
    }
    if (setjmp(failure.jump) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = name + " cannot be read as PNG: " + failure.reason;
        return false;
    }
    const bool read = read_png_rows(png, info, name, room_height, buffers, error);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!read) {
        return false;
    }
    fit_to_room(picture, width, height, room_width, room_height);
    for (uint32_t y = 0; y < picture.height; ++y) {
        const uint8_t* row = &buffers.rows[buffers.row_bytes * y];
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint8_t* pixel = row + 4 * x;
            put_pixel(picture, x, y, pixel[0], pixel[1], pixel[2], pixel[3]);
        }
    }
    return true;
}

void append_le16(std::vector<uint8_t>& bytes, uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void append_le32(std::vector<uint8_t>& bytes, uint32_t value) {
    append_le16(bytes, value & 0xFFFF);
    append_le16(bytes, value >> 16);
}

}  // namespace

bool read_picture(const std::string& name, const std::vector<uint8_t>& file, uint32_t room_width,
                  uint32_t room_height, ScreenPicture& picture, std::string& error) {
    const char* format = format_of(file);
    if (format && std::strcmp(format, "PNG") == 0) {
        return read_png(name, file, room_width, room_height, picture, error);
    }
    if (format && std::strcmp(format, "BMP") == 0) {
        return read_bmp(name, file, room_width, room_height, picture, error);
    }
    error = format ? name + " is a " + format + " file; keylight-send draws PNG and BMP files"
                   : name + " is neither a PNG nor a BMP file";
    return false;
}

std::vector<uint8_t> bmp24_of(const ScreenPicture& picture) {
    // keylight skips (width AND 3) bytes after each row: the padding to a multiple of 4.
    const uint32_t row_bytes = 3 * picture.width + (picture.width & 3);
    const uint32_t pixel_bytes = row_bytes * picture.height;
    const uint32_t offset = BMP_FILE_HEADER_BYTES + BMP_INFO_HEADER_BYTES;
    std::vector<uint8_t> bmp;
    bmp.reserve(offset + pixel_bytes);
    bmp.push_back('B');
    bmp.push_back('M');
    append_le32(bmp, offset + pixel_bytes);
    append_le32(bmp, 0);  // two reserved words
    append_le32(bmp, offset);
    append_le32(bmp, BMP_INFO_HEADER_BYTES);
    append_le32(bmp, picture.width);
    append_le32(bmp, picture.height);  // positive: bottom row first
    append_le16(bmp, 1);               // colour planes
    append_le16(bmp, KEYLIGHT_BITS_PER_PIXEL);
    append_le32(bmp, BI_RGB);
    append_le32(bmp, pixel_bytes);
    for (int unused = 0; unused < 4; ++unused) {  // resolutions, colours used, important colours
        append_le32(bmp, 0);
    }
    for (uint32_t y = picture.height; y-- > 0;) {
        const uint8_t* row = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
        for (uint32_t x = 0; x < picture.width; ++x) {
            bmp.push_back(row[3 * x + 2]);
            bmp.push_back(row[3 * x + 1]);
            bmp.push_back(row[3 * x]);
        }
        bmp.insert(bmp.end(), picture.width & 3, 0);
    }
    return bmp;
}

}  // namespace keylightsend
