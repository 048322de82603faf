#include "panelviewfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fpgamodel.h"

namespace panelsim {

namespace {

class PanelViewFileTest : public ::testing::Test {
protected:
    PanelViewFileTest() {
        char pattern[] = "/tmp/panelview_test.XXXXXX";
        folder = mkdtemp(pattern);
        path = folder + "/" + PANEL_VIEW_FILE_NAME;
    }
    ~PanelViewFileTest() override {
        std::remove(path.c_str());
        rmdir(folder.c_str());
    }

    std::unique_ptr<PanelViewWriter> openWriter() {
        std::string error;
        auto writer = PanelViewWriter::open(path, error);
        EXPECT_TRUE(writer) << error;
        return writer;
    }
    std::string bytes() const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void store(const std::string& content) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }
    PanelViewRead readInto(PanelViewState& state) const {
        return PanelViewReader(path).read(state);
    }

    // Lights button LED 3, turns screen 1 on and fills its picture with one colour.
    static void draw(FpgaModel& model) {
        const int connection = model.openConnection(1);
        auto write = [&](uint32_t address, uint16_t value) {
            fpga_request r{};
            r.address.short_word = static_cast<uint16_t>(address | FPGA_SHORT_MARK);
            r.count = 1;
            r.data.value = value;
            ASSERT_EQ(model.execute(connection, FPGA_REQ_SHORT, &r), 0);
        };
        write(0x0900, 0x6300);  // button LED 3 on
        write(0x0A04, 0x0000);  // screen 1's index: display control, then display on
        write(0x0A04, 0x0700);
        write(0x0A05, 0x0037);
        write(0x0A04, 0x0000);  // memory write
        write(0x0A04, 0x2200);
        const std::vector<uint16_t> pixels(SCREEN_PIXELS, 0xF81F);
        fpga_request r{};
        r.address.short_word = static_cast<uint16_t>(0x0A05 | FPGA_SHORT_MARK);
        r.count = SCREEN_PIXELS;
        r.data.words = pixels.data();
        ASSERT_EQ(model.execute(connection, FPGA_REQ_SHORT, &r), 0);
    }

    std::string folder;
    std::string path;
};

TEST_F(PanelViewFileTest, a_reader_sees_what_the_model_drew_into_the_file) {
    const mode_t umask_before = umask(077);
    auto writer = openWriter();
    umask(umask_before);
    ASSERT_TRUE(writer);
    EXPECT_FALSE(writer->hadPicture());
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(status.st_size, static_cast<off_t>(sizeof(PanelViewFile)));

    FpgaModel model({}, &writer->file());
    draw(model);
    auto state = std::make_unique<PanelViewState>();
    ASSERT_EQ(readInto(*state), PanelViewRead::Ok);
    const Picture picture = model.picture(1);
    EXPECT_EQ(std::memcmp(state->screens[1], picture.data(), sizeof state->screens[1]), 0);
    EXPECT_EQ(state->screens[1][0], 0xF81F);
    EXPECT_EQ(state->button_leds[3], 1);
    EXPECT_EQ(state->screens_on[1], 1);
    EXPECT_EQ(state->screens_on[0], 0);
    EXPECT_EQ(state->accesses, model.state().accesses);
}

TEST_F(PanelViewFileTest, a_new_writer_takes_the_picture_over_and_the_model_shows_it) {
    {
        auto writer = openWriter();
        FpgaModel model({}, &writer->file());
        draw(model);
    }
    auto writer = openWriter();
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->hadPicture());
    FpgaModel model({}, &writer->file());
    EXPECT_EQ(model.picture(1)[SCREEN_PIXELS - 1], 0xF81F);
    EXPECT_TRUE(model.state().button_leds[3]);
    EXPECT_TRUE(model.state().screens_on[1]);
}

TEST_F(PanelViewFileTest, refuses_files_that_hold_no_whole_picture_of_this_layout) {
    std::string valid;
    {
        auto writer = openWriter();
        FpgaModel model({}, &writer->file());
        draw(model);
    }
    valid = bytes();
    const size_t sequence = offsetof(PanelViewFile, sequence);
    struct Case {
        const char* name;
        std::function<std::string(std::string)> change;
        PanelViewRead expected;
    };
    const std::vector<Case> cases = {
        {"whole", [](std::string b) { return b; }, PanelViewRead::Ok},
        {"cut short", [](std::string b) { return b.substr(0, b.size() - 1); },
         PanelViewRead::CutShort},
        {"longer", [](std::string b) { return b + '\0'; }, PanelViewRead::CutShort},
        {"empty", [](std::string) { return std::string(); }, PanelViewRead::CutShort},
        {"foreign", [](std::string b) { return b.replace(0, 4, "\x89PNG"); },
         PanelViewRead::Foreign},
        {"other version", [](std::string b) { return b.replace(8, 1, 1, '\x02'); },
         PanelViewRead::OtherVersion},
        {"size field", [](std::string b) { return b.replace(12, 1, 1, '\x01'); },
         PanelViewRead::CutShort},
        {"torn", [&](std::string b) { return b.replace(sequence, 1, 1, '\x01'); },
         PanelViewRead::Busy},
    };
    auto state = std::make_unique<PanelViewState>();
    for (const Case& c : cases) {
        store(c.change(valid));
        EXPECT_EQ(readInto(*state), c.expected) << c.name;
        EXPECT_EQ(PanelViewReader(path).result() == PanelViewRead::Ok,
                  c.expected == PanelViewRead::Ok || c.expected == PanelViewRead::Busy)
            << c.name;
        // A writer keeps only a whole picture; anything else it replaces with a dark one.
        auto writer = openWriter();
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->hadPicture(),
                  c.expected == PanelViewRead::Ok || c.expected == PanelViewRead::Busy)
            << c.name;
        EXPECT_EQ(readInto(*state), PanelViewRead::Ok) << c.name;
    }
    std::remove(path.c_str());
    EXPECT_EQ(readInto(*state), PanelViewRead::Missing);
}

}  // namespace

}  // namespace panelsim
