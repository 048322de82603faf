#include "clientkeylight.h"

#include <QDebug>
#include <QTcpSocket>
#include <QtEndian>

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "bmp_format.h"
#include "buttonsetter.h"
#include "fpga.h"
#include "framebudget.h"
#include "registers.h"

namespace keylight {

namespace {

// The largest information header of a BMP file (BITMAPV5HEADER). A file that fills a screen
// with it reaches keylight's hardware library, which tells the client's log what it refuses.
constexpr uint32_t LARGEST_BMP_INFO_HEADER_BYTES = 124;
static_assert(KLM_LARGEST_FRAME >= sizeof(KLM_DrawTFTImage) + BMP_FILE_HEADER_BYTES +
                                       LARGEST_BMP_INFO_HEADER_BYTES +
                                       3 * SCREEN_WIDTH * SCREEN_HEIGHT &&
                  SCREEN_WIDTH % 4 == 0,
              "the largest frame takes the draw-image record of any picture that fills a screen");

constexpr int TAG_STEP = 1000;
constexpr qint64 PREFIX_SIZE = 4;
constexpr qint64 TYPE_SIZE = 4;

// Connection numbers count up for the life of the process. Rather than overflow after some
// two million connections, they start again at the first one.
int nextTag = TAG_STEP;

int takeTag() {
    const int tag = nextTag;
    nextTag = nextTag > std::numeric_limits<int>::max() - TAG_STEP ? TAG_STEP : nextTag + TAG_STEP;
    return tag;
}

}  // namespace

ClientKeylight::ClientKeylight(QObject* parent, QTcpSocket* socket, ButtonSetter* setter,
                               FPGA* fpga, FrameBudget* frames)
    : QObject(parent),
      _socket(socket),
      _setter(setter),
      _fpga(fpga),
      _frames(frames),
      _tag(takeTag()) {
    if (_socket == nullptr) {
        qCritical() << "collector: ClientKeylight::ClientKeylight, null socket";
        return;
    }
    _descriptor = static_cast<int>(_socket->socketDescriptor());
    // Unlimited, the socket would read everything the peer sends into memory.
    _socket->setReadBufferSize(READ_CHUNK);
    connect(_socket, &QTcpSocket::disconnected, this, &ClientKeylight::clientDisconnected);
    connect(_socket, &QTcpSocket::readyRead, this, &ClientKeylight::clientData);
    connect(_socket, &QTcpSocket::bytesWritten, this, &ClientKeylight::resumeReading);
    if (_fpga != nullptr) {
        connect(_fpga, &FPGA::queueDrained, this, &ClientKeylight::resumeReading);
    }
}

ClientKeylight::~ClientKeylight() {
    if (_socket != nullptr) {
        releaseSocket();
    }
}

int ClientKeylight::descriptor() const {
    return _descriptor;
}

int ClientKeylight::tag() const {
    return _tag;
}

bool ClientKeylight::hasUnread() const {
    return _socket != nullptr && (_held || unreadBytes() > 0);
}

qint64 ClientKeylight::unreadBytes() const {
    int inSystem = 0;
    if (::ioctl(_descriptor, FIONREAD, &inSystem) != 0) {
        inSystem = 0;
    }
    return _socket->bytesAvailable() + inSystem;
}

qint64 ClientKeylight::buffered() const {
    return _socket != nullptr ? _socket->bytesAvailable() : 0;
}

void ClientKeylight::clientData() {
    if (_socket == nullptr) {
        qCritical() << "keylight::ClientKeylight::clientData NULL socket";
        return;
    }
    _held = !mayRead();
    std::vector<QByteArray> batch;
    uint32_t oversized = 0;
    uint32_t frameInProgress = 0;
    bool grantedFrameCut = false;
    while (!_held && _socket->bytesAvailable() > 0) {
        if (_skipping > 0) {
            const qint64 skipped = _socket->skip(std::min(_skipping, _socket->bytesAvailable()));
            if (skipped <= 0) {
                break;
            }
            _skipping -= skipped;
            continue;
        }
        char header[PREFIX_SIZE + TYPE_SIZE];
        if (_socket->peek(header, PREFIX_SIZE) < PREFIX_SIZE) {
            break;
        }
        const uint32_t length = qFromBigEndian<uint32_t>(header);
        if (length > LARGEST_SKIPPED_FRAME) {
            oversized = length;
            break;
        }
        if (length > LARGEST_FRAME) {
            // The line names the frame's type, so its first bytes are awaited.
            if (_socket->peek(header, sizeof header) < qint64{sizeof header}) {
                break;
            }
            _socket->skip(sizeof header);
            skipFrame(length, qFromBigEndian<uint32_t>(header + PREFIX_SIZE));
            continue;
        }
        if (_socket->bytesAvailable() < length + PREFIX_SIZE) {
            frameInProgress = length;
            break;
        }
        _socket->read(header, PREFIX_SIZE);
        batch.push_back(_socket->read(length));
        grantedFrameCut = grantedFrameCut || length + PREFIX_SIZE > READ_CHUNK;
    }
    {
        FPGA::Poster poster(_fpga, _tag);
        _setter->process_messages(batch, _socket, _tag);
    }
    // The room of a frame goes back once it has been cut, also when the next frame is as
    // large: that one asks anew, and may not have arrived whole like the one under the
    // reserve.
    if (grantedFrameCut) {
        releaseFrameRoom();
    }
    if (oversized != 0) {
        refuseOversizedFrame(oversized);
    } else if (_held) {
        return;
    } else if (_peer_gone) {
        endConnection();
    } else if (!mayRead()) {
        // The answers or the work of this batch hold the connection back: it asks for the
        // room of its next frame once it may be read again, so that no room, the reserve
        // least of all, waits for a peer that may never take its answers.
        _held = true;
    } else {
        readOn(frameInProgress);
        // The batch's answers leave now, in one write, rather than at a wake-up of their own.
        // Last: a write that fails ends the connection from within (Qt emits disconnected).
        _socket->flush();
    }
}

void ClientKeylight::clientDisconnected() {
    if (_socket == nullptr) {
        return;
    }
    _peer_gone = true;
    if (_socket->bytesAvailable() > 0) {
        clientData();
    } else {
        endConnection();
    }
}

bool ClientKeylight::mayRead() const {
    // Answers to a peer that has gone are never taken; they hold nothing back.
    const bool repliesTaken = _peer_gone || _socket->bytesToWrite() <= UNREAD_REPLIES;
    return repliesTaken && (_fpga == nullptr || _fpga->acceptsWorkFrom(_tag));
}

void ClientKeylight::resumeReading() {
    if (_socket != nullptr && _held && mayRead()) {
        clientData();
    }
}

// A frame keeps its room until it has been cut; the next large one asks anew, behind the
// frames of other connections that asked meanwhile.
void ClientKeylight::readOn(uint32_t frameInProgress) {
    const qint64 needed = qint64{frameInProgress} + PREFIX_SIZE;
    if (needed <= READ_CHUNK || _frames == nullptr) {
        releaseFrameRoom();
        bufferUpTo(std::max(READ_CHUNK, needed));
    } else if (_frame_room == needed) {
        bufferUpTo(needed);
    } else if (_frame_asked != needed) {
        releaseFrameRoom();
        bufferUpTo(READ_CHUNK);
        _frame_asked = needed;
        _frames->request(this, static_cast<size_t>(needed));
    }
}

// Qt stops watching a socket whose buffer has reached its limit and watches it again only
// when a read empties the buffer: a partial frame left behind would stall the connection for
// good. Setting the limit anew makes Qt compare the buffer with it again.
void ClientKeylight::bufferUpTo(qint64 bytes) {
    _socket->setReadBufferSize(0);
    _socket->setReadBufferSize(bytes);
}

void ClientKeylight::frameGranted(size_t bytes) {
    _frame_asked = 0;
    _frame_room = static_cast<qint64>(bytes);
    bufferUpTo(_frame_room);
}

bool ClientKeylight::waitingFrameArrived(size_t bytes) {
    if (static_cast<size_t>(unreadBytes()) >= bytes) {
        return mayRead();
    }
    // Qt does not read a socket whose buffer is full, and so never sees this peer go.
    pollfd peer{_descriptor, POLLRDHUP, 0};
    if (poll(&peer, 1, 0) > 0 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (_socket != nullptr) {
                    endConnection();
                }
            },
            Qt::QueuedConnection);
    }
    return false;
}

void ClientKeylight::releaseFrameRoom() {
    if (_frame_room != 0 || _frame_asked != 0) {
        _frame_room = 0;
        _frame_asked = 0;
        _frames->release(this);
    }
}

void ClientKeylight::endConnection() {
    qInfo() << "keylight: client disconnected " << _descriptor;
    releaseSocket();
    deleteLater();
}

void ClientKeylight::skipFrame(uint32_t length, uint32_t type) {
    qCritical().noquote() << QStringLiteral(
                                 "keylight: connection %1 (client %2) sent a frame of type %3 "
                                 "and %4 bytes, more than %5: dropped")
                                 .arg(_tag)
                                 .arg(_descriptor)
                                 .arg(type)
                                 .arg(length)
                                 .arg(LARGEST_FRAME);
    _skipping = qint64{length} - TYPE_SIZE;
}

void ClientKeylight::refuseOversizedFrame(uint32_t length) {
    qCritical().noquote() << QStringLiteral(
                                 "keylight: client %1 announced a frame of %2 bytes, more than "
                                 "%3: connection closed")
                                 .arg(_descriptor)
                                 .arg(length)
                                 .arg(LARGEST_SKIPPED_FRAME);
    // Whatever else it sent is dropped unread.
    _socket->disconnect(this);
    _socket->abort();
    releaseSocket();
    deleteLater();
}

void ClientKeylight::releaseSocket() {
    releaseFrameRoom();
    _setter->connectionClosed(_tag);
    _socket->disconnect(this);
    _socket->close();
    _socket->deleteLater();
    _socket = nullptr;
}

}  // namespace keylight
