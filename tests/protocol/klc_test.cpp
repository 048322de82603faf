// The plain-socket client against a real listening socket: frames on the wire, the cache,
// the reconnection throttle and what it prints.
#include "klc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int WAIT_MS = 5000;

// The throttle's clock: each test moves it on by hand.
double fake_now = 100000.0;
double fakeClock() {
    return fake_now;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A socket bound to a free port that does not listen: connecting to it is refused, and no
// one else can take the port meanwhile.
class RefusingPort {
public:
    RefusingPort() : _fd(socket(AF_INET, SOCK_STREAM, 0)) {
        const sockaddr_in address = loopback(0);
        bind(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~RefusingPort() { close(_fd); }
    uint16_t port() const { return boundPort(_fd); }

private:
    int _fd;
};

// A listening socket on a free port standing in for keylight; it takes one connection at a
// time and cuts frames from it.
class FrameServer {
public:
    FrameServer() : _listener(socket(AF_INET, SOCK_STREAM, 0)) {
        const sockaddr_in address = loopback(0);
        bind(_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(_listener, 4);
    }
    ~FrameServer() {
        dropClient();
        close(_listener);
    }
    uint16_t port() const { return boundPort(_listener); }

    // Takes the connection the client has made; false when none came.
    bool acceptClient() {
        pollfd waiting{_listener, POLLIN, 0};
        if (poll(&waiting, 1, WAIT_MS) != 1)
            return false;
        dropClient();
        _client = accept(_listener, nullptr, nullptr);
        return _client != -1;
    }

    // Resets the connection (RST), as a killed server does.
    void resetClient() {
        linger hard{1, 0};
        setsockopt(_client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        dropClient();
    }

    // The record of the next frame; empty when none arrived.
    Bytes nextRecord() {
        Bytes length = readBytes(4);
        if (length.size() != 4)
            return {};
        const uint32_t n = uint32_t(length[0]) << 24 | uint32_t(length[1]) << 16 |
                           uint32_t(length[2]) << 8 | length[3];
        return readBytes(n);
    }

private:
    Bytes readBytes(size_t count) {
        Bytes bytes;
        while (bytes.size() < count) {
            pollfd waiting{_client, POLLIN, 0};
            if (poll(&waiting, 1, WAIT_MS) != 1)
                return {};
            uint8_t chunk[512];
            const ssize_t got =
                recv(_client, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
            if (got <= 0)
                return {};
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

    void dropClient() {
        if (_client != -1)
            close(_client);
        _client = -1;
    }

    int _listener;
    int _client = -1;
};

Bytes setParameterRecord(uint8_t first, uint8_t second) {
    return {0, 0, 0, 14, 0, 0, 0, first, 0, 0, 0, second};
}

Bytes setButtonImageRecord(uint8_t button, uint8_t image) {
    return {0, 0, 0, 7, 0, 0, 0, button, 0, 0, 0, image};
}

std::string capturedStdout() {
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Each test starts from a fresh connection to a server of its own, with the throttle past.
class PlainSocketClient : public testing::Test {
protected:
    void SetUp() override {
        klc_close();
        klc_set_time_source(&fakeClock);
        passThrottle();
        ASSERT_EQ(klc_connect_to("127.0.0.1", server.port()), 1);
        ASSERT_TRUE(server.acceptClient());
    }
    void TearDown() override {
        klc_close();
        klc_set_time_source(nullptr);
    }

    static void passThrottle() { fake_now += 1000.0; }

    // Sends a marker and returns the records that arrive up to and including it.
    std::vector<Bytes> recordsUpToMarker() {
        EXPECT_EQ(klc_set_parameter(0x7E, 0x7F), 1);
        std::vector<Bytes> records;
        for (;;) {
            Bytes record = server.nextRecord();
            if (record.empty() || record == setParameterRecord(0x7E, 0x7F))
                return records;
            records.push_back(record);
        }
    }

    FrameServer server;
};

}  // namespace

TEST_F(PlainSocketClient, sends_each_message_as_one_frame_in_network_order) {
    EXPECT_EQ(klc_set_button_leds(5, 1, 2, 3), 1);
    EXPECT_EQ(klc_set_button_leds_blink(6, 1, 2, 3, 0x100, 4, 5, 6, 0x200), 1);
    EXPECT_EQ(klc_set_button_text(7, "ok", 9), 1);
    EXPECT_EQ(klc_set_button_image(-1, 3), 1);
    EXPECT_EQ(klc_option_off(), 1);
    EXPECT_EQ(klc_reconfigure(), 1);
    EXPECT_EQ(server.nextRecord(), (Bytes{0, 0, 0, 4, 0, 0, 0, 5, 1, 2, 3, 0}));
    EXPECT_EQ(server.nextRecord(),
              (Bytes{0, 0, 0, 11, 0, 0, 0, 6, 1, 2, 3, 0, 0, 0, 1, 0, 4, 5, 6, 0, 0, 0, 2, 0}));
    EXPECT_EQ(server.nextRecord(),
              (Bytes{0, 0, 0, 5, 0, 0, 0, 7, 0, 0, 0, 9, 0, 0, 0, 3, 'o', 'k', 0}));
    EXPECT_EQ(server.nextRecord(), (Bytes{0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3}));
    EXPECT_EQ(server.nextRecord(), (Bytes{0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0}));
    EXPECT_EQ(server.nextRecord(), (Bytes{0, 0, 0, 10, 0, 0, 0, 0}));
}

TEST_F(PlainSocketClient, drops_a_repeat_of_the_last_image_of_a_button) {
    EXPECT_EQ(klc_set_button_image(5, 2), 1);
    EXPECT_EQ(klc_set_button_image(5, 2), 0);
    EXPECT_EQ(klc_set_button_image(6, 2), 1);
    EXPECT_EQ(recordsUpToMarker(),
              (std::vector<Bytes>{setButtonImageRecord(5, 2), setButtonImageRecord(6, 2)}));
}

TEST_F(PlainSocketClient, uploading_an_image_makes_the_buttons_showing_it_send_it_again) {
    const std::vector<uint8_t> image(120, 0xAA);
    EXPECT_EQ(klc_set_button_image(5, 3), 1);
    EXPECT_EQ(klc_set_button_image(6, 3), 1);
    EXPECT_EQ(klc_set_button_image(7, 4), 1);
    EXPECT_EQ(klc_upload_image(3, image.data(), 120), 1);
    EXPECT_EQ(klc_set_button_image(5, 3), 1);
    EXPECT_EQ(klc_set_button_image(6, 3), 1);
    EXPECT_EQ(klc_set_button_image(7, 4), 0);
    const std::vector<Bytes> records = recordsUpToMarker();
    ASSERT_EQ(records.size(), 6u);
    Bytes upload = {0, 0, 0, 6, 0, 0, 0, 3, 0, 0, 0, 120};
    upload.resize(upload.size() + image.size());
    std::copy(image.begin(), image.end(), upload.end() - static_cast<std::ptrdiff_t>(image.size()));
    EXPECT_EQ(records[3], upload);
    EXPECT_EQ(records[4], setButtonImageRecord(5, 3));
    EXPECT_EQ(records[5], setButtonImageRecord(6, 3));
}

TEST_F(PlainSocketClient, refuses_an_image_that_is_not_120_bytes) {
    const std::vector<uint8_t> image(121, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(klc_upload_image(3, image.data(), 121), 0);
    EXPECT_EQ(capturedStdout(), "wrong image data size 121, must be 120\n");
    EXPECT_TRUE(recordsUpToMarker().empty());
}

TEST_F(PlainSocketClient, steady_leds_after_a_blink_with_the_same_first_phase_are_sent) {
    EXPECT_EQ(klc_set_button_leds_blink(5, 1, 2, 3, 100, 4, 5, 6, 200), 1);
    EXPECT_EQ(klc_set_button_leds_blink(5, 1, 2, 3, 100, 4, 5, 6, 200), 0);
    EXPECT_EQ(klc_set_button_leds(5, 1, 2, 3), 1);
    EXPECT_EQ(klc_set_button_leds(5, 1, 2, 3), 0);
    EXPECT_EQ(klc_set_button_leds_blink(5, 1, 2, 3, 100, 4, 5, 6, 201), 1);
    EXPECT_EQ(recordsUpToMarker().size(), 3u);
}

TEST_F(PlainSocketClient, drops_a_repeated_text_with_the_same_parameter_only) {
    EXPECT_EQ(klc_set_button_text(5, "run", 1), 1);
    EXPECT_EQ(klc_set_button_text(5, "run", 1), 0);
    EXPECT_EQ(klc_set_button_text(5, "run", 2), 1);
    EXPECT_EQ(klc_set_button_text(5, "stop", 2), 1);
    EXPECT_EQ(recordsUpToMarker().size(), 3u);
}

TEST_F(PlainSocketClient, texts_too_long_for_the_cache_go_out_whole_and_never_count_as_repeats) {
    const std::string first = std::string(99, 'a') + std::string(50, 'x');
    const std::string second = std::string(99, 'a') + std::string(50, 'y');
    EXPECT_EQ(klc_set_button_text(5, first.c_str(), 0), 1);
    EXPECT_EQ(klc_set_button_text(5, second.c_str(), 0), 1);
    EXPECT_EQ(klc_set_button_text(5, second.c_str(), 0), 1);
    const std::string hundred(100, 'b');
    EXPECT_EQ(klc_set_button_text(5, hundred.c_str(), 0), 1);
    EXPECT_EQ(klc_set_button_text(5, hundred.c_str(), 0), 1);
    const std::vector<Bytes> records = recordsUpToMarker();
    ASSERT_EQ(records.size(), 5u);
    ASSERT_EQ(records[1].size(), 16u + second.size() + 1);
    EXPECT_EQ(std::string(records[1].begin() + 16, records[1].end() - 1), second);
    EXPECT_EQ(records[1].back(), 0);
}

TEST_F(PlainSocketClient, a_text_that_fits_after_a_long_one_is_cached_again) {
    const std::string longText(150, 'z');
    EXPECT_EQ(klc_set_button_text(5, longText.c_str(), 0), 1);
    EXPECT_EQ(klc_set_button_text(5, "short", 0), 1);
    EXPECT_EQ(klc_set_button_text(5, "short", 0), 0);
}

TEST_F(PlainSocketClient, every_button_id_updates_all_entries_without_a_repeat_test) {
    EXPECT_EQ(klc_set_button_text(5, "x", 0), 1);
    EXPECT_EQ(klc_set_button_image(-1, 4), 1);
    EXPECT_EQ(klc_set_button_image(-1, 4), 1);
    EXPECT_EQ(klc_set_button_image(5, 4), 0);
    EXPECT_EQ(klc_set_button_image(299, 4), 0);
    EXPECT_EQ(klc_set_button_text(5, "", 0), 0);  // the image emptied the cached text
    EXPECT_EQ(klc_set_button_image(300, 4), 1);   // beyond the cache: always sent
    EXPECT_EQ(klc_set_button_image(300, 4), 1);
    EXPECT_EQ(recordsUpToMarker().size(), 5u);
}

TEST_F(PlainSocketClient,
       after_the_server_resets_the_connection_a_repeat_goes_out_on_a_new_connection) {
    EXPECT_EQ(klc_set_button_image(5, 7), 1);
    ASSERT_EQ(server.nextRecord(), setButtonImageRecord(5, 7));
    server.resetClient();
    // The reset reaches the client's socket asynchronously: the first sends after it may
    // still be accepted by the kernel.
    int sent = 1;
    for (int attempt = 0; attempt < 200 && sent == 1; ++attempt) {
        sent = klc_reconfigure();
        if (sent == 1)
            usleep(10000);
    }
    ASSERT_EQ(sent, 0);
    passThrottle();
    EXPECT_EQ(klc_set_button_image(5, 7), 1);
    ASSERT_TRUE(server.acceptClient());
    EXPECT_EQ(server.nextRecord(), setButtonImageRecord(5, 7));
}

TEST_F(PlainSocketClient, prints_its_connection_lines_and_throttles_attempts_within_1000_ms) {
    EXPECT_EQ(klc_verbose_on(), 1);
    ASSERT_EQ(server.nextRecord(), (Bytes{0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0, 1}));
    klc_close();
    RefusingPort refusing;
    const std::string address = "127.0.0.1:" + std::to_string(refusing.port());
    passThrottle();
    testing::internal::CaptureStdout();
    EXPECT_EQ(klc_connect_to("127.0.0.1", refusing.port()), 0);
    fake_now += 10.0;
    EXPECT_EQ(klc_reconfigure(), 0);
    fake_now += 990.0;
    EXPECT_EQ(klc_connect_to("127.0.0.1", server.port()), 1);
    EXPECT_EQ(capturedStdout(),
              "try to connect to " + address + "\n" + "klc failed to connect to server " + address +
                  "\n" + "connect later, since last attempt elapsed only 10.00 ms\n" +
                  " could not connect\n" +
                  "try to connect to 127.0.0.1:" + std::to_string(server.port()) + "\n" +
                  "klc connected to server 127.0.0.1:" + std::to_string(server.port()) + "\n");
}

TEST_F(PlainSocketClient, refuses_a_host_of_256_characters_and_keeps_the_address) {
    klc_close();
    passThrottle();
    const std::string longHost(256, '1');
    testing::internal::CaptureStdout();
    EXPECT_EQ(klc_connect_to(longHost.c_str(), 1), 0);
    EXPECT_EQ(capturedStdout(), "klc refused host name of 256 characters, at most 255\n");
    EXPECT_EQ(klc_connect(), 1);
    ASSERT_TRUE(server.acceptClient());
}

// Without forgetting it, the throttled image would count as sent and its retry would be
// dropped without ever reaching the server.
TEST_F(PlainSocketClient, a_message_that_could_not_be_sent_is_sent_when_repeated) {
    klc_close();
    fake_now += 10.0;
    EXPECT_EQ(klc_set_button_image(5, 9), 0);
    passThrottle();
    EXPECT_EQ(klc_set_button_image(5, 9), 1);
    ASSERT_TRUE(server.acceptClient());
    EXPECT_EQ(server.nextRecord(), setButtonImageRecord(5, 9));
}
