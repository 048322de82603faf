// Font loading: reading and inflating the font file, the FreeType face made from it, its
// cell size and the glyph cache.
//
// FreeType reads a gzip-compressed PCF through a decompressing stream that starts over at
// every backward seek, which makes each glyph load cost tens of microseconds. So a font is
// inflated into memory once when it loads, and the cell size and every glyph rendered from
// the current face are kept until the face changes. The file-backed path (FreeType reading
// the file, every glyph rendered afresh) stays selectable so both can be compared.
#include "font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "panel.h"
#include "panel_internal.h"

int ft_ready = 0;

namespace {

FT_Library ft_library = nullptr;  // set by text_engine_start
FT_Face ft_face = nullptr;        // the current font face; nullptr until a font loads

// Everything derived from the current face.
struct font_cache {
    glyph_source source = glyph_source::cached;  // the path the next load takes
    bool keeps_glyphs = false;                   // the current face was loaded on the cached path
    uint8_t* font_bytes = nullptr;  // the inflated font; must outlive the face made from it
    rendered_glyph glyphs[256];
};

font_cache cache;
rendered_glyph scratch_glyph;

// Releases the face and everything derived from it.
void drop_face() {
    FT_Done_Face(ft_face);
    ft_face = nullptr;
    std::free(cache.font_bytes);
    cache.font_bytes = nullptr;
    cache.keeps_glyphs = false;
    for (rendered_glyph& glyph : cache.glyphs) {
        glyph.status = rendered_glyph::state::unknown;
    }
}

// FT_Load_Char with rendering, a copy of the glyph, its conversion to a bitmap; the row
// layout read as the 32-bit little-endian word at 4 * r, bit 7 of each byte leftmost.
void render_glyph(unsigned code, rendered_glyph& out) {
    out.status = rendered_glyph::state::failed;
    if (FT_Load_Char(ft_face, code, FT_LOAD_RENDER) != 0) {
        return;
    }
    FT_Glyph glyph;
    if (FT_Get_Glyph(ft_face->glyph, &glyph) != 0) {
        return;
    }
    if (glyph->format != FT_GLYPH_FORMAT_BITMAP ||
        FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_NORMAL, nullptr, 1) != 0) {
        FT_Done_Glyph(glyph);
        return;
    }
    const FT_Bitmap& bitmap = reinterpret_cast<FT_BitmapGlyph>(glyph)->bitmap;
    out.width = static_cast<int>(bitmap.width);
    out.rows = static_cast<int>(bitmap.rows);
    out.pitch = bitmap.pitch;
    const int bytes = std::max(1, (out.width + 7) / 8);
    const int last_byte_bits = out.width % 8 == 0 ? 8 : out.width % 8;
    out.bits = 8 * (bytes - 1) + last_byte_bits;
    out.advance_x = ft_face->glyph->advance.x;
    out.advance_y = ft_face->glyph->advance.y;
    if (out.pitch == 4) {
        const int stored = std::min(out.rows, SCREEN_HEIGHT);
        for (int r = 0; r < stored; ++r) {
            const uint8_t* row = bitmap.buffer + 4 * r;
            out.row_bits[r] = (uint32_t{row[0]} << 24) | (uint32_t{row[1]} << 16) |
                              (uint32_t{row[2]} << 8) | uint32_t{row[3]};
        }
    }
    FT_Done_Glyph(glyph);
    out.status = rendered_glyph::state::usable;
}

// Reads the whole file; a gzip file is inflated. nullptr when it cannot be read.
uint8_t* read_font_file(const char* path, size_t* length) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return nullptr;
    }
    size_t capacity = 64 * 1024;
    size_t used = 0;
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(capacity));
    while (bytes) {
        used += std::fread(bytes + used, 1, capacity - used, file);
        if (used < capacity) {
            break;
        }
        capacity *= 2;
        uint8_t* grown = static_cast<uint8_t*>(std::realloc(bytes, capacity));
        if (!grown) {
            std::free(bytes);
        }
        bytes = grown;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (!bytes || failed || used == 0) {
        std::free(bytes);
        return nullptr;
    }
    uint8_t* inflated = nullptr;
    size_t inflated_length = 0;
    if (used >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B &&
        gzip_inflate(bytes, used, &inflated, &inflated_length)) {
        std::free(bytes);
        *length = inflated_length;
        return inflated;
    }
    *length = used;
    return bytes;
}

// Opens the face from the inflated bytes; when that is impossible or FreeType refuses them,
// FreeType opens the file itself, so that its verdict and error code stay the file's own.
FT_Error open_face(const char* path) {
    if (cache.source == glyph_source::cached) {
        size_t length = 0;
        uint8_t* bytes = read_font_file(path, &length);
        if (bytes &&
            FT_New_Memory_Face(ft_library, bytes, static_cast<FT_Long>(length), 0, &ft_face) == 0) {
            cache.font_bytes = bytes;
            return 0;
        }
        std::free(bytes);
        ft_face = nullptr;
    }
    const FT_Error error = FT_New_Face(ft_library, path, 0, &ft_face);
    if (error != 0) {
        ft_face = nullptr;
    }
    return error;
}

}  // namespace

const rendered_glyph* glyph_for(unsigned code) {
    rendered_glyph* glyph = &scratch_glyph;
    if (cache.keeps_glyphs) {
        glyph = &cache.glyphs[code & 0xFF];
        if (glyph->status != rendered_glyph::state::unknown) {
            return glyph->status == rendered_glyph::state::usable ? glyph : nullptr;
        }
    }
    render_glyph(code, *glyph);
    return glyph->status == rendered_glyph::state::usable ? glyph : nullptr;
}

void text_engine_start() {
    ft_ready = FT_Init_FreeType(&ft_library) == 0 ? 1 : 0;
}

void text_engine_stop() {
    if (!ft_ready) {
        return;
    }
    drop_face();
    FT_Done_FreeType(ft_library);
    ft_library = nullptr;
    ft_ready = 0;
}

void text_glyph_source_set(glyph_source source) {
    cache.source = source;
}

int glyph_cell_size(int* width, int* rows) {
    if (!width || !rows || !ft_ready) {
        return -1;
    }
    const rendered_glyph* cell = glyph_for('A');
    if (!cell) {
        return -1;
    }
    *width = cell->width;
    *rows = cell->rows;
    return 0;
}

int font_file_cell_size(const char* path, int* width, int* rows) {
    if (!ft_ready) {
        text_engine_start();
    }
    if (tft_load_font(path) != 0) {
        return -1;
    }
    return glyph_cell_size(width, rows);
}

int tft_load_font(const char* path) {
    if (!path) {
        return -1;
    }
    struct stat info;
    if (stat(path, &info) != 0) {
        if (errno == ENOENT) {
            log_printf(log_priority::err, "Font file '%s' doesn't exist.\n", path);
        } else {
            log_printf(log_priority::err, "stat('%s') returned error %d.\n", path, errno);
        }
        return -1;
    }
    if (!ft_ready) {
        return -1;
    }
    // The old face goes first, so a failed load leaves no face at all.
    drop_face();
    const FT_Error error = open_face(path);
    if (error != 0) {
        log_printf(log_priority::err, "Error calling FT_New_Face(): error = %d\n", error);
        return -1;
    }
    cache.keeps_glyphs = cache.source == glyph_source::cached;
    // A font without fixed sizes has no bitmap size to select.
    if (ft_face->num_fixed_sizes < 1) {
        return -1;
    }
    // A PCF face's first size gives its line height, which FreeType matches against the pixel
    // size and refuses where they differ (most 75 and 100 dpi faces): then the size is selected
    // by its place.
    const FT_Bitmap_Size& size = ft_face->available_sizes[0];
    if (FT_Set_Pixel_Sizes(ft_face, static_cast<FT_UInt>(size.width),
                           static_cast<FT_UInt>(size.height)) != 0 &&
        FT_Select_Size(ft_face, 0) != 0) {
        return -1;
    }
    // FreeType selects a character map only for Unicode and Latin-1 faces; without one each byte
    // would be taken for a glyph index. A bitmap face's first map is its own encoding (KOI8-R,
    // ISO 8859-2, ...).
    if (!ft_face->charmap && ft_face->num_charmaps > 0) {
        FT_Set_Charmap(ft_face, ft_face->charmaps[0]);
    }
    return 0;
}
