// QKeylightClient's builders byte for byte, and the client against a real QTcpServer.
#include "qkeylightclient.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

using keylight::QKeylightClient;

namespace {

constexpr int WAIT_MS = 5000;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// A port on which nothing listens at the moment.
quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Bytes the server side has received, read until `count` are there or the wait is over.
QByteArray receive(QTcpSocket* peer, QKeylightClient& client, int count) {
    client.waitForBytesWritten(WAIT_MS);
    QByteArray bytes;
    while (bytes.size() < count && (peer->bytesAvailable() > 0 || peer->waitForReadyRead(WAIT_MS)))
        bytes += peer->read(count - bytes.size());
    return bytes;
}

// The server side of a fresh connection from `client`.
QTcpSocket* acceptFrom(QTcpServer& server, QKeylightClient& client) {
    EXPECT_TRUE(client.waitConnected(WAIT_MS));
    if (!server.hasPendingConnections())
        server.waitForNewConnection(WAIT_MS);
    return server.nextPendingConnection();
}

std::string capturedStdout() {
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(KeylightBuilders, toggle_and_status_indicators_and_button_state_are_in_network_order) {
    EXPECT_EQ(keylight::makeSetLEDToggleIndicator(0, 1), hex("00000016"
                                                             "00000000"
                                                             "00000001"));
    EXPECT_EQ(keylight::makeSetLEDStatusIndicator(31, 0), hex("00000015"
                                                              "0000001f"
                                                              "00000000"));
    EXPECT_EQ(keylight::makeSetLEDButtonState(-1, -1, 250), hex("00000011"
                                                                "ffffffff"
                                                                "ffffffff"
                                                                "000000fa"));
    EXPECT_EQ(keylight::makeSetButtonImage(3, 258), hex("00000007"
                                                        "00000003"
                                                        "00000102"));
    EXPECT_EQ(keylight::makeBlackoutScreen(2), hex("00000010"
                                                   "00000002"));
    EXPECT_EQ(keylight::makeReconfigure(), hex("0000000a"
                                               "00000000"));
    EXPECT_EQ(keylight::makeQuery(), hex("0000000c"));
}

TEST(KeylightBuilders, text_lines_carry_one_byte_per_character_and_the_zero) {
    EXPECT_EQ(keylight::makeTextLine(1, 2, QString(), false), hex("0000000f"
                                                                  "00000001"
                                                                  "00000002"
                                                                  "00000000"
                                                                  "00000001"
                                                                  "00"));
    EXPECT_EQ(keylight::makeTextLine(-1, 0, QStringLiteral("Hi"), true), hex("0000000f"
                                                                             "ffffffff"
                                                                             "00000000"
                                                                             "00000001"
                                                                             "00000003"
                                                                             "486900"));
    EXPECT_EQ(keylight::makeSubTextLine(0, 3, 4, 5, QStringLiteral("A"), 0xFF0000, 0x00FF00),
              hex("00000012"
                  "00000000"
                  "00000003"
                  "00000004"
                  "00000005"
                  "00ff0000"
                  "0000ff00"
                  "00000002"
                  "4100"));
}

TEST(KeylightBuilders, upload_image_never_copies_more_than_its_120_byte_area) {
    QByteArray big(200, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i);
    const QByteArray record = keylight::makeUploadImage(9, big.constData(), 200);
    ASSERT_EQ(record.size(), 132);
    EXPECT_EQ(record.left(12), hex("00000006"
                                   "00000009"
                                   "000000c8"));
    EXPECT_EQ(record.mid(12), big.left(120));

    const QByteArray small = keylight::makeUploadImage(1, "abc", 3);
    ASSERT_EQ(small.size(), 132);
    EXPECT_EQ(small.mid(12, 3), QByteArray("abc"));
    EXPECT_EQ(small.mid(15), QByteArray(117, '\0'));
}

TEST(KeylightBuilders, draw_image_carries_the_file_and_prints_around_the_conversion) {
    testing::internal::CaptureStdout();
    const QByteArray record = keylight::makeDrawTFTImage(1, 10, 20, 3, "BMx");
    EXPECT_EQ(capturedStdout(),
              "Before hton_KLM_DrawTFTImage... size = 3\nAfter hton_KLM_DrawTFTImage...\n");
    EXPECT_EQ(record, hex("00000013"
                          "00000001"
                          "0000000a"
                          "00000014"
                          "00000003"
                          "424d78"));
}

TEST(KeylightBuilders, image_list_puts_value_a_before_value_b) {
    EXPECT_EQ(keylight::makeImageList(4, {7, 8}, 0xB, 0xA), hex("0000000d"
                                                                "00000004"
                                                                "00000000"
                                                                "0000000a"
                                                                "0000000b"
                                                                "00000002"
                                                                "00000007"
                                                                "00000008"));
    EXPECT_EQ(keylight::makeImageList(4, {}, 0, 0).size(), 24);
}

TEST(KeylightBuilders, image_batch_uploads_each_image_under_consecutive_numbers_then_lists_them) {
    const std::vector<QByteArray> batch =
        keylight::makeImageBatch(2, {QByteArray(120, 'a'), QByteArray(120, 'b')}, 10, 0xB, 0xA);
    ASSERT_EQ(batch.size(), 3u);
    EXPECT_EQ(batch[0], keylight::makeUploadImage(10, QByteArray(120, 'a').constData(), 120));
    EXPECT_EQ(batch[1], keylight::makeUploadImage(11, QByteArray(120, 'b').constData(), 120));
    EXPECT_EQ(batch[2], keylight::makeImageList(2, {10, 11}, 0xB, 0xA));
}

TEST(KeylightClientOnSocket, writes_a_record_as_one_length_prefixed_frame) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QKeylightClient client(server.serverPort());
    QTcpSocket* peer = acceptFrom(server, client);
    ASSERT_NE(peer, nullptr);
    client.msg(keylight::makeSetLEDToggleIndicator(0, 1));
    EXPECT_EQ(receive(peer, client, 16), hex("0000000c"
                                             "00000016"
                                             "00000000"
                                             "00000001"));
    client.msg(keylight::makeQuery());
    EXPECT_EQ(receive(peer, client, 8), hex("00000004"
                                            "0000000c"));
}

TEST(KeylightClientOnSocket, writes_a_batch_as_frames_back_to_back) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QKeylightClient client(server.serverPort());
    QTcpSocket* peer = acceptFrom(server, client);
    ASSERT_NE(peer, nullptr);
    client.msg(std::vector<QByteArray>{});
    client.msg(std::vector<QByteArray>{keylight::makeBlackoutScreen(0), keylight::makeQuery(),
                                       keylight::makeSetLEDToggleIndicator(1, 1)});
    EXPECT_EQ(receive(peer, client, 12 + 8 + 16), hex("00000008"
                                                      "00000010"
                                                      "00000000"
                                                      "00000004"
                                                      "0000000c"
                                                      "0000000c"
                                                      "00000016"
                                                      "00000001"
                                                      "00000001"));
}

TEST(KeylightClientOnSocket,
     drops_a_record_when_no_server_answers_and_sends_the_next_once_one_does) {
    const quint16 port = unusedPort();
    QKeylightClient client(port);
    EXPECT_FALSE(client.waitConnected(100));
    client.msg(keylight::makeSetLEDToggleIndicator(0, 0));
    EXPECT_FALSE(client.isConnected());

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    client.msg(keylight::makeSetLEDToggleIndicator(0, 1));
    ASSERT_TRUE(server.waitForNewConnection(WAIT_MS));
    QTcpSocket* peer = server.nextPendingConnection();
    EXPECT_EQ(receive(peer, client, 16), hex("0000000c"
                                             "00000016"
                                             "00000000"
                                             "00000001"));
    client.msg(keylight::makeQuery());
    EXPECT_EQ(receive(peer, client, 8), hex("00000004"
                                            "0000000c"));
}

TEST(KeylightClientOnSocket, reconnects_at_the_next_send_after_the_server_closed_the_connection) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QKeylightClient client(server.serverPort());
    QTcpSocket* first = acceptFrom(server, client);
    ASSERT_NE(first, nullptr);
    first->close();
    for (int spin = 0; spin < 500 && client.isConnected(); ++spin) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
    ASSERT_FALSE(client.isConnected());
    client.msg(keylight::makeBlackoutScreen(1));
    ASSERT_TRUE(server.waitForNewConnection(WAIT_MS));
    QTcpSocket* second = server.nextPendingConnection();
    EXPECT_EQ(receive(second, client, 12), hex("00000008"
                                               "00000010"
                                               "00000001"));
}

TEST(KeylightClientOnSocket, connect_within_gives_up_when_nothing_listens) {
    QKeylightClient client(unusedPort());
    EXPECT_FALSE(client.connectWithin(500));
    EXPECT_FALSE(client.isConnected());
}

TEST(KeylightClientOnSocket, connect_within_keeps_trying_until_a_server_comes_up) {
    const quint16 port = unusedPort();
    QKeylightClient client(port);
    // The server must appear while connectWithin blocks this thread.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    std::thread later([listener, port] {
        usleep(300000);
        const int on = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(listener, 1);
    });
    EXPECT_TRUE(client.connectWithin(WAIT_MS));
    later.join();
    close(listener);
}
