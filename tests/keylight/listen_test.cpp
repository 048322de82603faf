// The listening socket, its own or the one systemd passed: its queue, a port that is taken for
// a while, what systemd is told meanwhile, and accepting when the process runs out of
// descriptors.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "buttonsetter.h"
#include "clientkeylight.h"
#include "connector.h"
#include "server_harness.h"

namespace {

using servertest::Client;
using servertest::frame;
using servertest::NotifySocket;
using servertest::processUntil;
using servertest::QtLog;

class CountingSetter : public keylight::ButtonSetter {
public:
    void process_messages(std::vector<QByteArray>& messages, QTcpSocket*, int) override {
        received += messages.size();
    }
    size_t received = 0;
};

int clientCount(const keylight::Connector& connector) {
    return static_cast<int>(connector.findChildren<keylight::ClientKeylight*>().size());
}

// The descriptor of this process's socket listening on port of the loopback address.
int listeningDescriptor(quint16 port) {
    for (int descriptor = 0; descriptor < 1024; ++descriptor) {
        int accepting = 0;
        socklen_t length = sizeof accepting;
        sockaddr_in address{};
        socklen_t addressLength = sizeof address;
        if (getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 &&
            accepting != 0 &&
            getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &addressLength) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port) {
            return descriptor;
        }
    }
    return -1;
}

// How often the event loop woke up during msecs of otherwise idle running.
int wakeupsDuring(int msecs) {
    int wakeups = 0;
    QMetaObject::Connection counting = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, [&] { ++wakeups; });
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(counting);
    return wakeups;
}

// Takes every free descriptor of the process, under a soft limit lowered for the purpose,
// until destroyed.
class DescriptorsUsedUp {
public:
    DescriptorsUsedUp() {
        getrlimit(RLIMIT_NOFILE, &_saved);
        rlimit low = _saved;
        low.rlim_cur = std::min<rlim_t>(_saved.rlim_cur, 512);
        setrlimit(RLIMIT_NOFILE, &low);
        for (int copy = dup(STDIN_FILENO); copy >= 0; copy = dup(STDIN_FILENO)) {
            _copies.push_back(copy);
        }
    }
    ~DescriptorsUsedUp() { release(); }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

    void release() {
        for (int copy : _copies) {
            close(copy);
        }
        _copies.clear();
        setrlimit(RLIMIT_NOFILE, &_saved);
    }

private:
    rlimit _saved{};
    std::vector<int> _copies;
};

// The port descriptor is bound to.
quint16 boundPort(int descriptor) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A socket listening on a port of the loopback address that the system picks, with a short
// queue, as systemd would hand it over; -1 when it cannot be made.
int handedOverSocket() {
    const int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (descriptor < 0 ||
        bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(descriptor, 1) != 0) {
        return -1;
    }
    return descriptor;
}

// How many listening sockets the connector is given (as systemd hands over one per
// ListenStream= line); none: it opens its own from the address and port it was built with.
class Listening : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(OwnAndHandedOver, Listening, ::testing::Values(0, 1, 2),
                         [](const auto& row) {
                             return row.param == 0 ? std::string("own")
                                                   : "handed_over_" + std::to_string(row.param);
                         });

TEST_P(Listening,
       logs_the_port_the_system_picked_and_queues_as_many_connections_as_the_system_allows) {
    const int handedOver = GetParam();
    std::vector<int> inherited;
    for (int i = 0; i < handedOver; ++i) {
        inherited.push_back(handedOverSocket());
        ASSERT_GE(inherited.back(), 0);
    }
    CountingSetter setter;
    // Sockets handed over decide address and port, whatever the command line says.
    keylight::Connector connector(handedOver > 0 ? QString() : QStringLiteral("127.0.0.1"),
                                  handedOver > 0 ? 3003 : 0, &setter);
    NotifySocket systemd;
    QtLog::clear();
    ASSERT_TRUE(connector.listen(inherited));
    QStringList listening;
    QStringList logged;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < std::max(handedOver, 1); ++i) {
        const quint16 port =
            handedOver > 0 ? boundPort(inherited[static_cast<size_t>(i)]) : connector.serverPort();
        EXPECT_NE(port, 3003);
        listening << QStringLiteral("127.0.0.1 port %1").arg(port);
        logged << QStringLiteral("keylight: listening on ") + listening.last();
        clients.push_back(std::make_unique<Client>(port));
    }
    EXPECT_EQ(QtLog::lines(), logged);
    EXPECT_EQ(systemd.messages(), QStringList{QStringLiteral("READY=1\nSTATUS=listening on ") +
                                              listening.join(QStringLiteral(", "))})
        << "ready once, when every socket is served";
    EXPECT_TRUE(processUntil([&] { return clientCount(connector) == std::max(handedOver, 1); }))
        << "a client on each socket";

    const int descriptor = listeningDescriptor(connector.serverPort());
    ASSERT_GE(descriptor, 0);
    tcp_info info{};
    socklen_t length = sizeof info;
    ASSERT_EQ(getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &length), 0);
    // qemu-arm passes every TCP option as one int, so under the emulator the queue length
    // cannot be seen.
    if (length < offsetof(tcp_info, tcpi_sacked) + sizeof info.tcpi_sacked) {
        GTEST_SKIP() << "getsockopt(TCP_INFO) gave " << length << " bytes: no queue length to see";
    }
    QFile limit(QStringLiteral("/proc/sys/net/core/somaxconn"));
    ASSERT_TRUE(limit.open(QIODevice::ReadOnly));
    const unsigned systemLimit = limit.readAll().trimmed().toUInt();
    EXPECT_EQ(info.tcpi_sacked, std::min<unsigned>(SOMAXCONN, systemLimit))
        << "for a listening socket: its queue length";
}

TEST(Listening,
     a_port_that_is_taken_is_logged_once_with_its_reason_and_listened_on_once_it_is_free) {
    auto squatter = std::make_unique<QTcpServer>();
    ASSERT_TRUE(squatter->listen(QHostAddress::LocalHost, 0));
    const quint16 port = squatter->serverPort();
    CountingSetter setter;
    keylight::Connector connector(QStringLiteral("127.0.0.1"), port, &setter);
    NotifySocket systemd;
    QtLog::clear();
    EXPECT_FALSE(connector.listen());
    EXPECT_EQ(QtLog::lines(),
              QStringList{QStringLiteral("keylight: cannot listen on 127.0.0.1 port %1: The bound "
                                         "address is already in use; trying again every 2 s")
                              .arg(port)});
    EXPECT_EQ(connector.serverPort(), 0);
    EXPECT_EQ(
        systemd.messages(),
        QStringList{QStringLiteral("STATUS=not listening: cannot listen on 127.0.0.1 port %1: "
                                   "The bound address is already in use; trying again every 2 s")
                        .arg(port)})
        << "not ready yet, and why";

    squatter.reset();
    const QString listening = QStringLiteral("keylight: listening on 127.0.0.1 port %1").arg(port);
    ASSERT_TRUE(processUntil([&] { return QtLog::contains(listening); }));
    EXPECT_EQ(connector.serverPort(), port);
    EXPECT_EQ(
        systemd.messages(),
        QStringList{QStringLiteral("READY=1\nSTATUS=listening on 127.0.0.1 port %1").arg(port)});
    Client client(port);
    EXPECT_TRUE(processUntil([&] { return clientCount(connector) == 1; }));
    EXPECT_EQ(QtLog::countStartingWith(QStringLiteral("keylight: cannot listen")), 1);
    EXPECT_EQ(QtLog::countStartingWith(QStringLiteral("keylight: listening")), 1);
}

TEST(Accepting,
     out_of_descriptors_it_pauses_without_spinning_serves_its_clients_and_accepts_again) {
    CountingSetter setter;
    keylight::Connector connector(QStringLiteral("127.0.0.1"), 0, &setter);
    ASSERT_TRUE(connector.listen());
    Client served(connector.serverPort());
    ASSERT_TRUE(processUntil([&] { return clientCount(connector) == 1; }));
    // UndefinedBehaviorSanitizer needs a descriptor of its own the first time it checks the type
    // of an object of a class: let it meet the classes used below while it still can.
    served.send(frame("served before"));
    ASSERT_TRUE(processUntil([&] { return setter.received == 1; }));
    {
        QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
        notifier.setEnabled(false);
    }
    wakeupsDuring(1);
    // Connected by the system, waiting in the listen queue until the event loop runs.
    std::vector<std::unique_ptr<Client>> waiting;
    for (int i = 0; i < 5; ++i) {
        waiting.push_back(std::make_unique<Client>(connector.serverPort()));
    }
    QtLog::clear();
    DescriptorsUsedUp usedUp;

    const QString paused = QStringLiteral(
        "keylight: cannot accept connections: Too many open files; trying again every 250 ms");
    ASSERT_TRUE(processUntil([&] { return QtLog::contains(paused); }));
    served.send(frame("still served"));
    EXPECT_TRUE(processUntil([&] { return setter.received == 2; }));
    // A retry every 250 ms wakes the loop a few times; trying to accept without a pause, thousands.
    EXPECT_LT(wakeupsDuring(1000), 50);
    EXPECT_EQ(clientCount(connector), 1);

    usedUp.release();
    EXPECT_TRUE(processUntil([&] { return clientCount(connector) == 6; }));
    EXPECT_EQ(QtLog::countStartingWith(QStringLiteral("keylight: cannot accept")), 1)
        << "one line for the episode";
}

}  // namespace
