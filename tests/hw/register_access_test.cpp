// Request records, address forms and the module-level register helpers.
#include <cerrno>
#include <chrono>
#include <cstring>

#include "fpga_device.h"
#include "panel_fixture.h"

namespace {

// Records what the library hands to the driver, without a model behind it.
struct recorded_request {
    unsigned long number;
    fpga_request record;
    std::chrono::steady_clock::time_point at;
};
std::vector<recorded_request> recorded;

int recording_open(const char*, int) {
    return 42;
}
int recording_ioctl(int, unsigned long request, fpga_request* record) {
    recorded.push_back({request, *record, std::chrono::steady_clock::now()});
    return 0;
}
const fpga_device_ops recording_ops = {recording_open, recording_ioctl};

int missing_open(const char*, int) {
    errno = ENOENT;
    return -1;
}
int missing_ioctl(int, unsigned long, fpga_request*) {
    errno = EBADF;
    return -1;
}
const fpga_device_ops missing_ops = {missing_open, missing_ioctl};

class RequestRecord : public ::testing::Test {
protected:
    void SetUp() override {
        recorded.clear();
        fpga_set_device_ops(&recording_ops);
    }
    void TearDown() override { fpga_set_device_ops(nullptr); }
};

}  // namespace

TEST_F(RequestRecord, single_write_sends_short_address_word_count_and_value) {
    uint16_t value = 0x8000;
    EXPECT_EQ(fpga_write(42, 0x0800, &value, 1), 0);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].number, static_cast<unsigned long>(FPGA_REQ_SHORT));
    EXPECT_EQ(recorded[0].record.reserved, 0u);
    EXPECT_EQ(recorded[0].record.address.short_word, 0x2800);
    EXPECT_EQ(recorded[0].record.count, 1u);
    EXPECT_EQ(recorded[0].record.data.value, 0x8000);
}

TEST_F(RequestRecord, read_sets_the_read_bit_of_the_short_form) {
    fpga_read(42, 0x1000);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].record.address.short_word, 0x7000);
    EXPECT_EQ(recorded[0].record.count, 1u);
}

TEST_F(RequestRecord, address_0x1FFF_takes_the_short_form_and_0x2000_the_long_form) {
    fpga_read(42, 0x1FFF);
    fpga_read(42, 0x2000);
    uint16_t value = 1;
    fpga_write(42, 0x12345, &value, 1);
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0].number, static_cast<unsigned long>(FPGA_REQ_SHORT));
    EXPECT_EQ(recorded[0].record.address.short_word, 0x7FFF);
    EXPECT_EQ(recorded[1].number, static_cast<unsigned long>(FPGA_REQ_LONG));
    EXPECT_EQ(recorded[1].record.address.long_word, 0x60002000u);
    EXPECT_EQ(recorded[2].number, static_cast<unsigned long>(FPGA_REQ_LONG));
    EXPECT_EQ(recorded[2].record.address.long_word, 0x20012345u);
}

TEST_F(RequestRecord, burst_carries_the_callers_array) {
    uint16_t words[3] = {1, 2, 3};
    fpga_write(42, 0x0A0F, words, 3);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].record.count, 3u);
    EXPECT_EQ(recorded[0].record.data.words, words);
}

TEST_F(RequestRecord, every_access_counts_whatever_its_outcome) {
    const uint32_t before = spi_call_count;
    fpga_read(42, 0x1000);
    fpga_set_device_ops(&missing_ops);
    fpga_read(-1, 0x1000);
    EXPECT_EQ(spi_call_count, before + 2);
}

TEST_F(RequestRecord, no_access_of_any_kind_comes_within_50_us_of_a_button_led_command) {
    fpga_fd = 42;
    uint16_t pixels[4] = {};
    led_button_state(1, 1);
    status_bits_get();
    led_button_state(2, 1);
    tft_pixels(1, pixels, 4);
    led_button_state(3, 1);
    led_status_indicator(3, 1);
    led_button_state(4, 1);
    fpga_write(42, 0x2000, pixels, 1);
    led_button_state(5, 1);
    led_button_state(6, 0);
    led_gap_wait();
    const auto gap_end = std::chrono::steady_clock::now();
    fpga_fd = -1;
    ASSERT_EQ(recorded.size(), 10u);
    for (size_t i = 0; i < recorded.size(); i += 2) {
        EXPECT_GE(recorded[i + 1].at - recorded[i].at, std::chrono::microseconds(50))
            << "access " << i + 1;
    }
    EXPECT_GE(gap_end - recorded[9].at, std::chrono::microseconds(50));
}

TEST(MissingDevice, panel_open_completes_and_every_access_fails_silently) {
    fpga_set_device_ops(&missing_ops);
    panel_close();
    const std::string output = [] {
        ::testing::internal::CaptureStdout();
        panel_open();
        EXPECT_EQ(fpga_fd, -1);
        EXPECT_EQ(reg_write(0x0800, 0x8000), -1);
        EXPECT_EQ(led_status_indicator(3, 1), -1);
        EXPECT_EQ(reg_read(0x1000), 0);
        fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }();
    EXPECT_EQ(output, "");
    panel_close();
    fpga_set_device_ops(nullptr);
}

using RegisterAccess = PanelTest;

TEST_F(RegisterAccess, both_address_forms_reach_the_model) {
    EXPECT_EQ(reg_write(0x1FFF, 0x1234), 0);
    EXPECT_EQ(reg_write(0x2000, 0x5678), 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"W 1FFF 1234", "W 2000 5678"}));
}

TEST_F(RegisterAccess, high_byte_writes_put_the_byte_above_a_zero_low_byte) {
    reg_write_high(0x0800, 0x80);
    EXPECT_EQ(accesses(), std::vector<std::string>{"W 0800 8000"});
}

TEST_F(RegisterAccess, mask_7_uses_the_index_and_data_registers_of_all_screens) {
    tft_register(7, 0x21, 0x1234);
    EXPECT_EQ(accesses(), controller_row(7, 0x21, 0x1234));
    EXPECT_EQ(controller_row(7, 0x21, 0x1234),
              (std::vector<std::string>{"W 0A0E 0000", "W 0A0E 2100", "W 0A0F 1234"}));
    tft_register(4, 0x22, 0);
    EXPECT_EQ(accesses(), (std::vector<std::string>{"W 0A08 0000", "W 0A08 2200", "W 0A09 0000"}));
}

TEST_F(RegisterAccess, pixel_bursts_cut_their_count_to_16_bits) {
    std::vector<uint16_t> words(0x10002, 0);
    tft_pixels(1, words.data(), 0x10002);
    EXPECT_EQ(accesses(), std::vector<std::string>{"B 0A03 2 2144DF1C"});
}

TEST_F(RegisterAccess, full_window_covers_the_whole_screen_of_all_controllers) {
    tft_full_window();
    EXPECT_EQ(accesses(), full_window_rows());
}
