// The socket side of keylight-send against a listener in the test: what arrives, and how
// answers, silence and a closed port are told apart.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fake_keylight.h"
#include "sendcommands.h"
#include "sendsocket.h"

namespace {

// A loopback port that nobody listens on: bound and closed again.
uint16_t closed_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t size = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

keylightsend::Batch batch_of(const std::vector<std::string>& words) {
    keylightsend::Batch batch;
    std::string error;
    EXPECT_TRUE(keylightsend::append_commands(words, batch, error)) << error;
    return batch;
}

}  // namespace

TEST(KeylightSendSocket, delivers_the_batch_bytes_as_built) {
    FakeKeylight keylight;
    const keylightsend::Batch batch = batch_of({"led", "3", "on", ",", "blackout", "all"});
    std::string error;
    const int fd = keylightsend::connect_to("127.0.0.1", keylight.port(), 1000, error);
    ASSERT_GE(fd, 0) << error;
    EXPECT_TRUE(keylightsend::send_all(fd, batch.bytes, error)) << error;
    close(fd);
    EXPECT_EQ(keylight.connections(1).at(0), batch.bytes);
}

TEST(KeylightSendSocket, collects_one_answer_per_query) {
    FakeKeylight keylight;
    const keylightsend::Batch batch = batch_of({"query", ",", "led", "1", "on", ",", "query"});
    std::string error;
    const int fd = keylightsend::connect_to("localhost", keylight.port(), 1000, error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_TRUE(keylightsend::send_all(fd, batch.bytes, error)) << error;
    EXPECT_TRUE(keylightsend::await_answers(fd, batch.queries, 5000, error)) << error;
    close(fd);
}

TEST(KeylightSendSocket, reports_a_server_that_stays_silent) {
    FakeKeylight keylight(FakeKeylight::Answers::None);
    std::string error;
    const int fd = keylightsend::connect_to("127.0.0.1", keylight.port(), 1000, error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_TRUE(keylightsend::send_all(fd, batch_of({"query"}).bytes, error));
    EXPECT_FALSE(keylightsend::await_answers(fd, 1, 50, error));
    EXPECT_EQ(error, "no answer to query within 50 ms");
    close(fd);
}

TEST(KeylightSendSocket, refuses_an_answer_that_is_not_keylights) {
    FakeKeylight keylight(FakeKeylight::Answers::Garbage);
    std::string error;
    const int fd = keylightsend::connect_to("127.0.0.1", keylight.port(), 1000, error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_TRUE(keylightsend::send_all(fd, batch_of({"query"}).bytes, error));
    EXPECT_FALSE(keylightsend::await_answers(fd, 1, 5000, error));
    EXPECT_EQ(error, "unexpected bytes in the answer to query");
    close(fd);
}

TEST(KeylightSendSocket, names_the_address_it_could_not_reach) {
    const uint16_t port = closed_port();
    std::string error;
    EXPECT_EQ(keylightsend::connect_to("127.0.0.1", port, 1000, error), -1);
    EXPECT_EQ(error,
              "cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
}

TEST(KeylightSendSocket, names_a_host_it_cannot_find) {
    std::string error;
    EXPECT_EQ(keylightsend::connect_to("no-such-host.invalid", 3003, 1000, error), -1);
    EXPECT_EQ(error.rfind("cannot find host no-such-host.invalid: ", 0), 0u) << error;
}
