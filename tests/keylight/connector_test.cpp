// Connections and framing: what batches the dispatcher gets from the bytes on the wire.
#include <gtest/gtest.h>

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <memory>
#include <vector>

#include "buttonsetter.h"
#include "clientkeylight.h"
#include "connector.h"
#include "klmframe.h"
#include "server_harness.h"

namespace {

using servertest::Client;
using servertest::frame;
using servertest::nullRecord;
using servertest::processUntil;
using servertest::QtLog;

// Stands in for the dispatcher: keeps every batch and marks it in the log.
class RecordingSetter : public keylight::ButtonSetter {
public:
    struct Batch {
        std::vector<QByteArray> messages;
        int tag;
    };

    void process_messages(std::vector<QByteArray>& messages, QTcpSocket*, int tag) override {
        batches.push_back({messages, tag});
        qDebug() << "batch of" << messages.size();
    }

    // Batches that held at least one message.
    std::vector<Batch> nonEmpty() const {
        std::vector<Batch> out;
        for (const Batch& batch : batches) {
            if (!batch.messages.empty()) {
                out.push_back(batch);
            }
        }
        return out;
    }

    std::vector<Batch> batches;
};

class Framing : public testing::Test {
protected:
    Framing() : connector(QStringLiteral("127.0.0.1"), 0, &setter) {
        EXPECT_TRUE(connector.listen());
        QtLog::clear();
    }

    int clientCount() const {
        return static_cast<int>(connector.findChildren<keylight::ClientKeylight*>().size());
    }

    std::unique_ptr<Client> connect() {
        const int before = clientCount();
        auto client = std::make_unique<Client>(connector.serverPort());
        EXPECT_TRUE(processUntil([&] { return clientCount() > before; }));
        return client;
    }

    bool waitForBatches(size_t count) {
        return processUntil([&] { return setter.batches.size() >= count; });
    }

    RecordingSetter setter;
    keylight::Connector connector;
};

TEST_F(Framing, two_frames_in_one_segment_arrive_as_one_batch_in_order) {
    auto client = connect();
    client->send(frame("first") + frame("second!"));
    ASSERT_TRUE(processUntil([&] { return !setter.nonEmpty().empty(); }));

    const auto batches = setter.nonEmpty();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].messages, (std::vector<QByteArray>{"first", "second!"}));
}

TEST_F(Framing, a_frame_in_three_segments_is_delivered_once_after_the_last) {
    auto client = connect();
    const QByteArray bytes = frame("payload");
    client->send(bytes.left(2));
    ASSERT_TRUE(waitForBatches(1));
    client->send(bytes.mid(2, 2));
    ASSERT_TRUE(waitForBatches(2));
    EXPECT_TRUE(setter.nonEmpty().empty()) << "partial frames wait in the socket";
    client->send(bytes.mid(4));
    ASSERT_TRUE(processUntil([&] { return !setter.nonEmpty().empty(); }));

    EXPECT_EQ(setter.nonEmpty().size(), 1u);
    EXPECT_EQ(setter.nonEmpty()[0].messages, std::vector<QByteArray>{"payload"});
}

TEST_F(Framing, a_frame_of_length_zero_is_an_empty_message) {
    auto client = connect();
    client->send(frame(QByteArray()) + frame("x"));
    ASSERT_TRUE(processUntil([&] { return !setter.nonEmpty().empty(); }));
    EXPECT_EQ(setter.nonEmpty()[0].messages, (std::vector<QByteArray>{QByteArray(), "x"}));
}

TEST_F(Framing, tags_count_up_by_1000_even_after_a_disconnect_which_releases_the_client) {
    auto first = connect();
    first->send(frame("a"));
    ASSERT_TRUE(processUntil([&] { return setter.nonEmpty().size() == 1; }));
    first->socket.disconnectFromHost();
    ASSERT_TRUE(processUntil([&] {
        servertest::deliverDeferredDeletes();
        return clientCount() == 0;
    })) << "the client object goes with its connection";

    auto second = connect();
    second->send(frame("b"));
    ASSERT_TRUE(processUntil([&] { return setter.nonEmpty().size() == 2; }));
    const int firstTag = setter.nonEmpty()[0].tag;
    EXPECT_EQ(firstTag % 1000, 0);
    EXPECT_EQ(setter.nonEmpty()[1].tag, firstTag + 1000);
}

TEST_F(Framing, bytes_sent_just_before_a_disconnect_are_processed_before_the_disconnect_line) {
    auto client = connect();
    client->send(frame("last words"));
    client->socket.disconnectFromHost();
    ASSERT_TRUE(processUntil([] {
        for (const QString& line : QtLog::lines()) {
            if (line.startsWith("keylight: client disconnected  ")) {
                return true;
            }
        }
        return false;
    }));
    ASSERT_EQ(setter.nonEmpty().size(), 1u);
    EXPECT_EQ(setter.nonEmpty()[0].messages, std::vector<QByteArray>{"last words"});
    const QStringList lines = QtLog::lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith("keylight: client disconnected  "));
    EXPECT_GE(lines.indexOf("batch of 1"), 0);
}

// Peers that stop one byte short of the largest frame hold no more than the budget and a read
// chunk each; a whole frame still gets through, and every stalled one once it is complete.
TEST(FrameBudget, stalled_frames_wait_in_tcp_beyond_the_budget_and_a_whole_frame_gets_through) {
    constexpr qint64 FRAME = KLM_LARGEST_FRAME + 4;
    constexpr qint64 CHUNK = keylight::ClientKeylight::READ_CHUNK;
    RecordingSetter setter;
    keylight::Connector connector(QStringLiteral("127.0.0.1"), 0, &setter, nullptr, 2 * FRAME);
    ASSERT_TRUE(connector.listen());
    const QByteArray largest = frame(QByteArray(KLM_LARGEST_FRAME, 'l'));
    const auto clients = [&] { return connector.findChildren<keylight::ClientKeylight*>(); };
    const auto held = [&] {
        qint64 bytes = 0;
        for (const keylight::ClientKeylight* client : clients()) {
            bytes += client->buffered();
        }
        return bytes;
    };

    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 5; ++i) {
        stalled.push_back(std::make_unique<Client>(connector.serverPort()));
        stalled.back()->send(largest.left(largest.size() - 1));
    }
    const qint64 bound = 2 * (FRAME - 1) + 3 * CHUNK;
    ASSERT_TRUE(processUntil([&] { return held() == bound; })) << held() << " bytes held";
    Client whole(connector.serverPort());
    whole.send(largest);
    ASSERT_TRUE(processUntil([&] { return setter.nonEmpty().size() == 1; }));
    EXPECT_EQ(held(), bound);

    for (const auto& client : stalled) {
        client->send(largest.right(1));
    }
    ASSERT_TRUE(processUntil([&] { return setter.nonEmpty().size() == 6; }));
    for (const auto& batch : setter.nonEmpty()) {
        EXPECT_EQ(batch.messages, std::vector<QByteArray>{largest.mid(4)});
    }
    EXPECT_EQ(clients().size(), 6) << "no connection was closed";
}

// The disconnect handler itself delivers frames still buffered when the connection ends.
TEST(ClientKeylight, delivers_buffered_frames_when_its_connection_ends) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    Client peer(server.serverPort());
    ASSERT_TRUE(server.waitForNewConnection(20000));
    QTcpSocket* accepted = server.nextPendingConnection();
    peer.send(frame("buffered"));
    ASSERT_TRUE(accepted->waitForReadyRead(20000));

    RecordingSetter setter;
    QtLog::clear();
    const int descriptor = (new keylight::ClientKeylight(nullptr, accepted, &setter))->descriptor();
    peer.socket.disconnectFromHost();
    ASSERT_TRUE(processUntil([&] { return QtLog::lines().size() >= 2; }));

    ASSERT_EQ(setter.batches.size(), 1u);
    EXPECT_EQ(setter.batches[0].messages, std::vector<QByteArray>{"buffered"});
    EXPECT_EQ(QtLog::lines(),
              (QStringList{"batch of 1",
                           QStringLiteral("keylight: client disconnected  %1").arg(descriptor)}));
    servertest::deliverDeferredDeletes();
}

TEST_F(Framing, a_frame_over_the_largest_record_closes_only_that_connection) {
    auto greedy = connect();
    auto modest = connect();
    QByteArray oversized(4, '\0');
    qToBigEndian<uint32_t>(KLM_LARGEST_SKIPPED_FRAME + 1, oversized.data());
    greedy->send(frame("before") + oversized + QByteArray(64, 'x'));
    ASSERT_TRUE(
        processUntil([&] { return greedy->socket.state() == QAbstractSocket::UnconnectedState; }));

    ASSERT_EQ(setter.nonEmpty().size(), 1u);
    EXPECT_EQ(setter.nonEmpty()[0].messages, std::vector<QByteArray>{"before"});
    int refusals = 0;
    for (const QString& line : QtLog::lines()) {
        if (line.startsWith("keylight: client ") &&
            line.endsWith(
                " announced a frame of 2097153 bytes, more than 2097152: connection closed")) {
            ++refusals;
        }
    }
    EXPECT_EQ(refusals, 1);

    modest->send(frame("still served"));
    ASSERT_TRUE(processUntil([&] { return setter.nonEmpty().size() == 2; }));
    EXPECT_EQ(setter.nonEmpty()[1].messages, std::vector<QByteArray>{"still served"});
    EXPECT_TRUE(processUntil([&] {
        servertest::deliverDeferredDeletes();
        return clientCount() == 1;
    }));
}

// Frames too large to act on are dropped as they arrive, without room from the budget, which
// here has none to give.
TEST(ClientKeylight, drops_a_frame_larger_than_it_takes_with_a_line_and_reads_on) {
    RecordingSetter setter;
    keylight::Connector connector(QStringLiteral("127.0.0.1"), 0, &setter, nullptr, 0);
    ASSERT_TRUE(connector.listen());
    QtLog::clear();
    Client client(connector.serverPort());
    QByteArray unknown(KLM_LARGEST_SKIPPED_FRAME, 'u');
    qToBigEndian<uint32_t>(0xDEADBEEF, unknown.data());
    client.send(frame("before") + frame(nullRecord(QByteArray(KLM_LARGEST_FRAME - 3, 'n'))) +
                frame(unknown) + frame("after"));
    ASSERT_TRUE(processUntil([&] {
        return !setter.nonEmpty().empty() && setter.nonEmpty().back().messages.back() == "after";
    }));

    std::vector<QByteArray> delivered;
    for (const auto& batch : setter.nonEmpty()) {
        delivered.insert(delivered.end(), batch.messages.begin(), batch.messages.end());
    }
    EXPECT_EQ(delivered, (std::vector<QByteArray>{"before", "after"}));
    const auto* peer = connector.findChild<keylight::ClientKeylight*>();
    ASSERT_NE(peer, nullptr) << "the connection goes on";
    const QString from = QStringLiteral("keylight: connection %1 (client %2) ")
                             .arg(peer->tag())
                             .arg(peer->descriptor());
    QStringList dropped;
    for (const QString& line : QtLog::lines()) {
        if (line.endsWith(": dropped")) {
            dropped << line;
        }
    }
    EXPECT_EQ(
        dropped,
        (QStringList{from + "sent a frame of type 0 and 65537 bytes, more than 65536: dropped",
                     from + "sent a frame of type 3735928559 and 2097152 bytes, more than "
                            "65536: dropped"}));
}

TEST_F(Framing, a_frame_of_exactly_the_largest_record_is_delivered) {
    auto client = connect();
    const QByteArray big(KLM_LARGEST_FRAME, 'b');
    client->send(frame(big));
    ASSERT_TRUE(processUntil([&] { return !setter.nonEmpty().empty(); }));
    ASSERT_EQ(setter.nonEmpty()[0].messages.size(), 1u);
    EXPECT_EQ(setter.nonEmpty()[0].messages[0], big);
}

TEST(ClientKeylight, a_null_socket_leaves_an_inert_client_that_still_takes_a_tag) {
    RecordingSetter setter;
    QtLog::clear();
    keylight::ClientKeylight first(nullptr, nullptr, &setter);
    keylight::ClientKeylight second(nullptr, nullptr, &setter);
    first.clientData();
    first.clientDisconnected();

    EXPECT_EQ(second.tag(), first.tag() + 1000);
    EXPECT_TRUE(setter.batches.empty());
    EXPECT_EQ(QtLog::lines(), (QStringList{"collector: ClientKeylight::ClientKeylight, null socket",
                                           "collector: ClientKeylight::ClientKeylight, null socket",
                                           "keylight::ClientKeylight::clientData NULL socket"}));
}

}  // namespace
