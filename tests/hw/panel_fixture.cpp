#include "panel_fixture.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "panel_internal.h"

void PanelTest::SetUp() {
    // The library keeps process-wide state: start every test from a closed library.
    panel_close();
    text_glyph_source_set(glyph_source::cached);
    _model = std::make_unique<panelsim::FpgaModel>(
        [this](const std::string& line) { _trace.push_back(line); });
    _device = std::make_unique<panelsim::InProcessDevice>(*_model);
    panel_open();
    toggle_shadow = 0;
    accesses();
}

void PanelTest::TearDown() {
    panel_close();
    _device.reset();
    fpga_fd = -1;
}

std::vector<std::string> PanelTest::accesses() {
    std::vector<std::string> result;
    for (; _seen < _trace.size(); ++_seen) {
        const std::string& line = _trace[_seen];
        const size_t space = line.find(' ');
        const std::string rest = line.substr(space + 1);
        if (rest.rfind("OPEN", 0) == 0 || rest.rfind("CLOSE", 0) == 0) {
            continue;
        }
        result.push_back(rest);
    }
    return result;
}

std::string PanelTest::printed(const std::function<void()>& fn) {
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

std::string write_line(uint32_t address, uint16_t value) {
    char line[32];
    snprintf(line, sizeof line, "W %04X %04X", static_cast<unsigned>(address),
             static_cast<unsigned>(value));
    return line;
}

std::vector<std::string> controller_row(int mask, int number, uint16_t value) {
    const uint32_t index = 0x0A00u + 2u * static_cast<uint32_t>(mask);
    return {write_line(index, 0x0000), write_line(index, static_cast<uint16_t>(number << 8)),
            write_line(index + 1, value)};
}

std::vector<std::string> full_window_rows() {
    return controller_row(7, 0x44, 0x8304) + controller_row(7, 0x45, 0x8001);
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string x11_font(const std::string& name) {
    return std::string(PANEL_X11_FONT_DIR) + "/" + name;
}

std::string test_data(const std::string& name) {
    return std::string(HW_TEST_DATA) + "/" + name;
}

std::vector<uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
