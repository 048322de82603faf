#include "clientkeylight.h"

#include <QDebug>
#include <QTcpSocket>
#include <QtEndian>

#include <limits>
#include <vector>

#include "buttonsetter.h"

namespace keylight {

namespace {

constexpr int kTagStep = 1000;
constexpr qint64 kPrefixSize = 4;

// Connection numbers count up for the life of the process. Rather than overflow after some
// two million connections, they start again at the first one.
int nextTag = kTagStep;

int takeTag() {
    const int tag = nextTag;
    nextTag = nextTag > std::numeric_limits<int>::max() - kTagStep ? kTagStep : nextTag + kTagStep;
    return tag;
}

}  // namespace

ClientKeylight::ClientKeylight(QObject* parent, QTcpSocket* socket, ButtonSetter* setter)
    : QObject(parent), _socket(socket), _setter(setter), _tag(takeTag()) {
    if (_socket == nullptr) {
        qDebug() << "collector: ClientKeylight::ClientKeylight, null socket";
        return;
    }
    _descriptor = static_cast<int>(_socket->socketDescriptor());
    connect(_socket, &QTcpSocket::disconnected, this, &ClientKeylight::clientDisconnected);
    connect(_socket, &QTcpSocket::readyRead, this, &ClientKeylight::clientData);
}

ClientKeylight::~ClientKeylight() {
    if (_socket != nullptr) {
        releaseSocket();
    }
}

int ClientKeylight::descriptor() const { return _descriptor; }

int ClientKeylight::tag() const { return _tag; }

void ClientKeylight::clientData() {
    if (_socket == nullptr) {
        qDebug() << "keylight::ClientKeylight::clientData NULL socket";
        return;
    }
    std::vector<QByteArray> batch;
    uint32_t oversized = 0;
    while (_socket->bytesAvailable() > 0) {
        char prefix[kPrefixSize];
        if (_socket->peek(prefix, kPrefixSize) < kPrefixSize) {
            break;
        }
        const uint32_t length = qFromBigEndian<uint32_t>(prefix);
        if (length > kLargestFrame) {
            oversized = length;
            break;
        }
        if (_socket->bytesAvailable() < length + kPrefixSize) {
            break;
        }
        _socket->read(prefix, kPrefixSize);
        batch.push_back(_socket->read(length));
    }
    _setter->process_messages(batch, _socket, _tag);
    if (oversized != 0) {
        refuseOversizedFrame(oversized);
    }
}

void ClientKeylight::clientDisconnected() {
    if (_socket == nullptr) {
        return;
    }
    if (_socket->bytesAvailable() > 0) {
        clientData();
        if (_socket == nullptr) {
            return;
        }
    }
    qDebug() << "keylight: client disconnected " << _descriptor;
    releaseSocket();
    deleteLater();
}

void ClientKeylight::refuseOversizedFrame(uint32_t length) {
    qCritical().noquote() << QStringLiteral(
                                 "keylight: client %1 announced a frame of %2 bytes, more than "
                                 "%3: connection closed")
                                 .arg(_descriptor)
                                 .arg(length)
                                 .arg(kLargestFrame);
    // Whatever else it sent is dropped unread.
    _socket->disconnect(this);
    _socket->abort();
    releaseSocket();
    deleteLater();
}

void ClientKeylight::releaseSocket() {
    _socket->disconnect(this);
    _socket->close();
    _socket->deleteLater();
    _socket = nullptr;
}

}  // namespace keylight
