// What the trace shows of each access, and which records the model refuses.
#include <zlib.h>

#include "modeltest.h"

namespace panelsim {
namespace {

using Trace = std::vector<std::string>;

TEST_F(ModelTest, traces_single_writes_and_reads_with_four_hex_digits) {
    write(0x0900, 0x6300);
    write(0x1003, 0x0003);
    EXPECT_EQ(read(0x1003), 0x0003);
    EXPECT_EQ(read(0x1002), 0);
    EXPECT_EQ(trace, (Trace{"1 W 0900 6300", "1 W 1003 0003", "1 R 1003 0003", "1 R 1002 0000"}));
    EXPECT_EQ(model.state().accesses, 4u);
}

TEST_F(ModelTest, traces_a_burst_with_its_count_and_the_crc_of_its_little_endian_bytes) {
    ASSERT_EQ(burst(0x0A0F, {0x1234, 0xF800, 0x0001}), 0);
    ASSERT_EQ(burst(0x0A03, std::vector<uint16_t>(16384, 0)), 0);
    EXPECT_EQ(trace, (Trace{"1 B 0A0F 3 96C533D3", "1 B 0A03 16384 011FFCA6"}));
}

TEST_F(ModelTest, numbers_connections_from_one_and_traces_their_open_and_close) {
    Trace lines;
    FpgaModel fresh([&](const std::string& line) { lines.push_back(line); });
    const int first = fresh.openConnection(100);
    const int second = fresh.openConnection(200);
    fresh.closeConnection(first);
    fresh.closeConnection(first);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(lines, (Trace{"1 OPEN 100", "2 OPEN 200", "1 CLOSE"}));
}

TEST_F(ModelTest, refuses_accesses_on_a_closed_connection) {
    model.closeConnection(connection);
    trace.clear();
    errno = 0;
    EXPECT_EQ(write(0x0900, 0x6300), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(trace.empty());
    EXPECT_FALSE(model.state().button_leds[3]);
}

TEST_F(ModelTest, takes_the_highest_short_address_and_the_lowest_long_address) {
    write(0x1FFF, 0x0001);
    write(0x2000, 0x0002);
    fpga_request r = record(0x2000, false, 1);
    EXPECT_EQ(r.address.long_word, 0x20002000u);
    write(0x1234567, 0xABCD);
    EXPECT_EQ(trace, (Trace{"1 W 1FFF 0001", "1 W 2000 0002", "1 W 1234567 ABCD"}));
}

TEST_F(ModelTest, accepts_a_short_address_in_the_long_form) {
    fpga_request r{};
    r.address.long_word = 0x0900 | FPGA_LONG_MARK;
    r.count = 1;
    r.data.value = 0x6300;
    ASSERT_EQ(model.execute(connection, FPGA_REQ_LONG, &r), 0);
    EXPECT_TRUE(model.state().button_leds[3]);
    EXPECT_EQ(trace, (Trace{"1 W 0900 6300"}));
}

TEST_F(ModelTest, ignores_the_unset_upper_half_of_a_short_address_word) {
    fpga_request r{};
    r.address.long_word = 0xBEEF0000u | 0x0900 | FPGA_SHORT_MARK;
    r.count = 1;
    r.data.value = 0x6300;
    ASSERT_EQ(model.execute(connection, FPGA_REQ_SHORT, &r), 0);
    EXPECT_EQ(trace, (Trace{"1 W 0900 6300"}));
}

TEST_F(ModelTest, refuses_malformed_records_without_executing_or_tracing_them) {
    const auto refuses = [&](unsigned long request, fpga_request r, int error) {
        errno = 0;
        EXPECT_EQ(model.execute(connection, request, &r), -1);
        EXPECT_EQ(errno, error);
    };
    fpga_request noMark{};
    noMark.address.short_word = 0x0900;
    noMark.count = 1;
    refuses(FPGA_REQ_SHORT, noMark, EINVAL);
    fpga_request topBit = record(0x0900, false, 1);
    topBit.address.short_word |= 0x8000;
    refuses(FPGA_REQ_SHORT, topBit, EINVAL);
    fpga_request longTopBit = record(0x2000, false, 1);
    longTopBit.address.long_word |= 0x80000000u;
    refuses(FPGA_REQ_LONG, longTopBit, EINVAL);
    // A short-form record sent with the long request number lacks the long mark bit.
    refuses(FPGA_REQ_LONG, record(0x0900, false, 1), EINVAL);
    fpga_request reserved = record(0x0900, false, 1);
    reserved.reserved = 1;
    refuses(FPGA_REQ_SHORT, reserved, EINVAL);
    refuses(FPGA_REQ_SHORT, record(0x0A0F, true, 4), EINVAL);
    refuses(FPGA_REQ_SHORT, record(0x0A0F, false, 4), EFAULT);
    refuses(_IOWR('$', 2, fpga_request), record(0x0900, false, 1), EINVAL);
    refuses(_IOWR('%', 0, fpga_request), record(0x0900, false, 1), EINVAL);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(model.state().accesses, 0u);
}

TEST_F(ModelTest, traces_a_write_of_no_words_as_an_empty_burst) {
    ASSERT_EQ(burst(0x0A0F, {}), 0);
    EXPECT_EQ(trace, (Trace{"1 B 0A0F 0 00000000"}));
}

TEST_F(ModelTest, executes_fields_of_both_record_sizes) {
    for (unsigned size : {16u, 24u}) {
        RequestFields fields;
        fields.number = _IOC(_IOC_READ | _IOC_WRITE, '$', 1, size);
        fields.address_word = 0x1003 | FPGA_LONG_MARK | FPGA_LONG_READ;
        fields.count = 1;
        ASSERT_EQ(model.executeFields(connection, fields), 0) << size;
        EXPECT_TRUE(isFpgaRequestNumber(fields.number));
    }
    EXPECT_TRUE(isFpgaRequestNumber(0xC0102400u));
    EXPECT_TRUE(isFpgaRequestNumber(0xC0102401u));
    EXPECT_TRUE(isFpgaRequestNumber(0xC0182400u));
    EXPECT_FALSE(isFpgaRequestNumber(0xC0142400u));
    RequestFields fields;
    fields.number = 0xC0102400u;
    fields.address_word = 0x1000 | FPGA_SHORT_MARK | FPGA_SHORT_READ;
    fields.count = 1;
    model.setStatusInputs(2);
    ASSERT_EQ(model.executeFields(connection, fields), 0);
    EXPECT_EQ(fields.value, 2);
}

TEST_F(ModelTest, copies_the_value_of_a_write_back_into_the_record) {
    fpga_request r = record(0x0900, false, 1);
    r.data.value = 0x6300;
    ASSERT_EQ(model.execute(connection, FPGA_REQ_SHORT, &r), 0);
    EXPECT_EQ(r.data.value, 0x6300);
}

}  // namespace
}  // namespace panelsim
