// A fresh FPGA model per test, reached by the hardware library through the in-process device.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fpgamodel.h"
#include "inprocessdevice.h"
#include "panel.h"

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Register accesses traced since the last call (or since panel_open), without the
    // connection number: "W 0900 6300", "R 1000 0003", "B 0A0F 16384 1A2B3C4D".
    std::vector<std::string> accesses();
    // What fn printed on standard output.
    static std::string printed(const std::function<void()>& fn);

    panelsim::Picture picture(int screen) const { return _model->picture(screen); }
    panelsim::BoardState state() const { return _model->state(); }
    panelsim::FpgaModel& model() { return *_model; }

private:
    std::vector<std::string> _trace;
    size_t _seen = 0;
    std::unique_ptr<panelsim::FpgaModel> _model;
    std::unique_ptr<panelsim::InProcessDevice> _device;
};

// "W AAAA VVVV" for a single-word write.
std::string write_line(uint32_t address, uint16_t value);
// The three writes of one controller register: index 0x00, index number, data value.
std::vector<std::string> controller_row(int mask, int number, uint16_t value);
// The closing full-screen window of every drawing operation.
std::vector<std::string> full_window_rows();
// Concatenation.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);
// Path of a font in the X11 misc font folder, or in the generated test data.
std::string x11_font(const std::string& name);
std::string test_data(const std::string& name);
// The whole file, or empty when it cannot be read.
std::vector<uint8_t> file_bytes(const std::string& path);
