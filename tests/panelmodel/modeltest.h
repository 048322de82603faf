// A fresh board per test with one open connection, and helpers that send the records the
// driver would receive.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fpgamodel.h"

namespace panelsim {

class ModelTest : public ::testing::Test {
protected:
    ModelTest() : model([this](const std::string& line) { trace.push_back(line); }) {
        connection = model.openConnection(4242);
        trace.clear();
    }

    static fpga_request record(uint32_t address, bool read, uint32_t count) {
        fpga_request r{};
        if (address < FPGA_SHORT_FORM_LIMIT) {
            r.address.short_word =
                static_cast<uint16_t>(address | FPGA_SHORT_MARK | (read ? FPGA_SHORT_READ : 0));
        } else {
            r.address.long_word = address | FPGA_LONG_MARK | (read ? FPGA_LONG_READ : 0);
        }
        r.count = count;
        return r;
    }
    static unsigned long requestFor(uint32_t address) {
        return address < FPGA_SHORT_FORM_LIMIT ? FPGA_REQ_SHORT : FPGA_REQ_LONG;
    }

    int write(uint32_t address, uint16_t value) {
        fpga_request r = record(address, false, 1);
        r.data.value = value;
        return model.execute(connection, requestFor(address), &r);
    }
    void writeHigh(uint32_t address, uint8_t byte) {
        write(address, static_cast<uint16_t>(byte << 8));
    }
    uint16_t read(uint32_t address) {
        fpga_request r = record(address, true, 1);
        EXPECT_EQ(model.execute(connection, requestFor(address), &r), 0);
        return r.data.value;
    }
    int burst(uint32_t address, const std::vector<uint16_t>& words) {
        fpga_request r = record(address, false, static_cast<uint32_t>(words.size()));
        r.data.words = words.data();
        return model.execute(connection, requestFor(address), &r);
    }

    // The controller register write of the hardware library: index 0x00, index number, value.
    void tftRegister(unsigned mask, uint8_t number, uint16_t value) {
        writeHigh(0x0A00 + 2 * mask, 0x00);
        writeHigh(0x0A00 + 2 * mask, number);
        write(0x0A01 + 2 * mask, value);
    }
    void startPixels(unsigned mask) {
        tftRegister(mask, 0x21, 0);
        writeHigh(0x0A00 + 2 * mask, 0x00);
        writeHigh(0x0A00 + 2 * mask, 0x22);
    }
    void setWindow(unsigned mask, uint8_t firstColumn, uint8_t lastColumn, uint8_t firstRow,
                   uint8_t lastRow) {
        tftRegister(mask, 0x44, static_cast<uint16_t>(lastColumn << 8 | firstColumn));
        tftRegister(mask, 0x45, static_cast<uint16_t>(lastRow << 8 | firstRow));
    }
    uint16_t pixel(int screen, int x, int y) const {
        return model.picture(screen)[y * SCREEN_WIDTH + x];
    }

    std::vector<std::string> trace;
    FpgaModel model;
    int connection = 0;
};

}  // namespace panelsim
