// The in-memory font with kept glyphs against FreeType reading the font file afresh for
// every glyph: the same registers, the same pixels and the same messages.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "panel_fixture.h"
#include "panel_internal.h"

namespace {

struct run_result {
    std::vector<std::string> accesses;
    std::string output;
    std::array<panelsim::Picture, 3> pictures;
};

// Lines in several fonts, switching the face in between, through both line kinds.
void draw_sample_lines(const std::vector<std::string>& fonts) {
    std::string ascii;
    for (int c = 32; c < 127; ++c)
        ascii += static_cast<char>(c);
    std::string latin1;
    for (int c = 0xA0; c < 0x100; ++c)
        latin1 += static_cast<char>(c);
    for (const std::string& font : fonts) {
        tft_load_font(font.c_str());
        for (int line = 0; line < 6; ++line) {
            tft_text_line(line % 3, line, ascii.c_str() + line * 15, 0xFFFFFF, 0x203040);
        }
        tft_text_line(-1, 6, latin1.c_str(), 0x00FF00, 0x000000);
        tft_text_line_plain(0, 7, "Tesserax 0123 gjpqy");
        tft_sub_text_line(1, 2, 3, "sub-text", 5, 0xFF00FF, 0x00FFFF);
        tft_sub_text_line(2, 1, 0, latin1.c_str() + 40, 30, 0xFFFF00, 0x000080);
        tft_sub_text_line(0, 3, 7, "", 0, 0x123456, 0x654321);
    }
}

class GlyphSources : public PanelTest {
protected:
    void TearDown() override {
        text_glyph_source_set(glyph_source::cached);
        PanelTest::TearDown();
    }

    run_result run(glyph_source source, const std::vector<std::string>& fonts) {
        text_glyph_source_set(source);
        tft_blackout(-1);
        accesses();
        run_result result;
        result.output = printed([&] { draw_sample_lines(fonts); });
        result.accesses = accesses();
        for (int s = 0; s < 3; ++s)
            result.pictures[static_cast<size_t>(s)] = picture(s);
        return result;
    }

    void expect_same_on_both_paths(const std::vector<std::string>& fonts) {
        const run_result from_file = run(glyph_source::file, fonts);
        const run_result cached = run(glyph_source::cached, fonts);
        EXPECT_EQ(cached.output, from_file.output);
        EXPECT_EQ(cached.accesses, from_file.accesses);
        for (size_t s = 0; s < 3; ++s)
            EXPECT_EQ(cached.pictures[s], from_file.pictures[s]) << s;
    }
};

// A copy of the first bytes of a font, in a folder of its own that goes with the test.
class TruncatedFont {
public:
    TruncatedFont(const std::string& source, size_t keep) {
        char pattern[] = "/tmp/hw-tests-XXXXXX";
        _folder = mkdtemp(pattern) ? pattern : "";
        _path = _folder + "/cut.pcf.gz";
        std::vector<uint8_t> bytes = file_bytes(source);
        bytes.resize(std::min(keep, bytes.size()));
        std::ofstream(_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TruncatedFont() {
        std::remove(_path.c_str());
        rmdir(_folder.c_str());
    }
    const std::string& path() const { return _path; }

private:
    std::string _folder;
    std::string _path;
};

}  // namespace

TEST_F(GlyphSources, x11_fonts_give_the_same_lines_on_both_paths) {
    expect_same_on_both_paths({x11_font("8x13.pcf.gz"), x11_font("6x10.pcf.gz"),
                               x11_font("9x15.pcf.gz"), x11_font("5x7.pcf.gz"),
                               x11_font("10x20.pcf.gz"), x11_font("12x24.pcf.gz"),
                               x11_font("8x13.pcf.gz")});
}

TEST_F(GlyphSources, uncompressed_and_unusual_fonts_give_the_same_lines_on_both_paths) {
    expect_same_on_both_paths({test_data("cells.pcf"), test_data("tall.pcf"), test_data("wide.pcf"),
                               test_data("cells.pcf")});
}

TEST_F(GlyphSources, fonts_that_fail_give_the_same_messages_on_both_paths) {
    const std::string font = x11_font("8x13.pcf.gz");
    const size_t size = file_bytes(font).size();
    ASSERT_GT(size, 1000u);
    const TruncatedFont early(font, 100);
    const TruncatedFont late(font, size / 2);
    const TruncatedFont tail(font, size - 4);
    expect_same_on_both_paths({font, test_data("not-a-font.pcf.gz"), early.path(), font,
                               late.path(), tail.path(), test_data("missing.pcf.gz"), font});
}
