#include "connector.h"

#include <QDebug>
#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "clientkeylight.h"
#include "servicemanager.h"

namespace keylight {

namespace {

constexpr int LISTEN_RETRY_MS = 2000;
constexpr int ACCEPT_RETRY_MS = 250;

// accept() errors that concern only the one connection it tried to take (Linux hands on the
// network errors of a connection still in the queue): the next one may well be accepted.
bool failsOneConnectionOnly(int error) {
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

}  // namespace

Connector::Connector(const QString& address, quint16 port, ButtonSetter* setter, FPGA* fpga,
                     size_t frameBudget)
    : _address(address), _port(port), _setter(setter), _fpga(fpga), _frames(fpga, frameBudget) {
    _listen_retry.setInterval(LISTEN_RETRY_MS);
    connect(&_listen_retry, &QTimer::timeout, this, &Connector::retryListen);
    _accept_retry.setInterval(ACCEPT_RETRY_MS);
    _accept_retry.setSingleShot(true);
    connect(&_accept_retry, &QTimer::timeout, this, &Connector::resumeAccepting);
}

Connector::~Connector() {
    qDeleteAll(std::exchange(_clients, {}));
}

bool Connector::listen(const std::vector<int>& inherited) {
    if (!inherited.empty()) {
        _inherited = true;
        QStringList listening;
        for (const int descriptor : inherited) {
            const Listener& added = addListener(descriptor);
            listening << QStringLiteral("%1 port %2").arg(added.address).arg(added.port);
        }
        service::notify(QStringLiteral("READY=1\nSTATUS=listening on ") +
                        listening.join(QStringLiteral(", ")));
        return true;
    }
    if (tryListen()) {
        return true;
    }
    const QString reason = QStringLiteral("cannot listen on %1 port %2: %3; trying again every 2 s")
                               .arg(addressText())
                               .arg(_port)
                               .arg(_server.errorString());
    qWarning().noquote() << QStringLiteral("keylight: ") + reason;
    service::notify(QStringLiteral("STATUS=not listening: ") + reason);
    _listen_retry.start();
    return false;
}

// Logs only success: the failure is logged once, by listen().
bool Connector::tryListen() {
    const QHostAddress host =
        _address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(_address);
    if (!_server.listen(host, _port)) {
        return false;
    }
    // Accepting is done here rather than by QTcpServer, which retries a failed accept() at
    // once and forever (Qt 6) or stops accepting for good (Qt 5.15).
    _server.pauseAccepting();
    const Listener& added =
        addListener(static_cast<int>(_server.socketDescriptor()), addressText());
    service::notify(QStringLiteral("READY=1\nSTATUS=listening on %1 port %2")
                        .arg(added.address)
                        .arg(added.port));
    return true;
}

const Connector::Listener& Connector::addListener(int descriptor, const QString& address) {
    // QTcpServer listens with a queue of 50 (Qt 5.15 has no way to change it), so a burst of
    // connections waits for SYN retransmission. Linux takes a second listen() on a listening
    // socket as the new queue length and caps it at net.core.somaxconn.
    ::listen(descriptor, SOMAXCONN);
    // systemd hands its sockets over blocking: accepting stops at an empty queue instead.
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    quint16 port = 0;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        port = ntohs(bound.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    auto incoming = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(incoming.get(), &QSocketNotifier::activated, this,
            [this, descriptor] { newClient(descriptor); });
    const QString listening =
        address.isNull() ? QHostAddress(reinterpret_cast<const sockaddr*>(&bound)).toString()
                         : address;
    _listeners.push_back({descriptor, listening, port, std::move(incoming)});
    qInfo().noquote()
        << QStringLiteral("keylight: listening on %1 port %2").arg(listening).arg(port);
    return _listeners.back();
}

void Connector::retryListen() {
    if (tryListen()) {
        _listen_retry.stop();
    }
}

QString Connector::stopAccepting() {
    _listen_retry.stop();
    _accept_retry.stop();
    if (_inherited) {
        _listeners.clear();
        return QStringLiteral("no connection accepted since");
    }
    // keylight's own queue dies with it: the connections in it would be reset.
    const bool emptied = _listeners.empty() || newClient(_listeners.front().descriptor);
    _accept_retry.stop();
    _listeners.clear();
    _server.close();
    return emptied ? QStringLiteral(
                         "the connections waiting at the stop accepted, later ones "
                         "refused")
                   : QStringLiteral(
                         "connections still waiting at the stop reset, as they "
                         "could not be accepted");
}

int Connector::connectionsWithUnreadBytes() const {
    return static_cast<int>(std::count_if(_clients.begin(), _clients.end(),
                                          [](const ClientKeylight* c) { return c->hasUnread(); }));
}

quint16 Connector::serverPort() const {
    return _listeners.empty() ? 0 : _listeners.front().port;
}

QString Connector::addressText() const {
    return _address.isEmpty() ? QStringLiteral("every local address") : _address;
}

bool Connector::newClient(int listening) {
    for (;;) {
        const int descriptor = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                return true;
            }
            if (failsOneConnectionOnly(error)) {
                continue;
            }
            pauseAccepting(error);
            return false;
        }
        _accept_failing = false;
        auto* socket = new QTcpSocket(&_server);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(descriptor);
            delete socket;
            continue;
        }
        auto* client = new ClientKeylight(this, socket, _setter, _fpga, &_frames);
        _clients.append(client);
        // A client object goes when its connection ends; only the pointer value is compared.
        connect(client, &QObject::destroyed, this, [this, client] { _clients.removeOne(client); });
        qInfo() << "keylight: new client" << client->descriptor();
    }
}

// The waiting connections stay in the listen queue; the notifier would report them again at
// once, so it is off until the timer.
void Connector::pauseAccepting(int error) {
    for (Listener& listener : _listeners) {
        listener.incoming->setEnabled(false);
    }
    if (!_accept_failing) {
        qWarning().noquote()
            << QStringLiteral("keylight: cannot accept connections: %1; trying again every 250 ms")
                   .arg(QString::fromLocal8Bit(std::strerror(error)));
        _accept_failing = true;
    }
    _accept_retry.start();
}

void Connector::resumeAccepting() {
    for (Listener& listener : _listeners) {
        listener.incoming->setEnabled(true);
    }
    for (const Listener& listener : _listeners) {
        if (!newClient(listener.descriptor)) {
            return;
        }
    }
}

}  // namespace keylight
