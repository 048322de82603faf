#include "qkeylightclient.h"

#include "klm.h"
#include "klmframe.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutex>
#include <QWaitCondition>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace keylight {

namespace {

constexpr int SEND_CONNECT_WAIT_MS = 1000;
constexpr int RETRY_PAUSE_MS = 200;

QByteArray bytesOf(const std::vector<uint8_t>& record) {
    return QByteArray(reinterpret_cast<const char*>(record.data()),
                      static_cast<int>(record.size()));
}

// ASCII form of a text with its terminating zero.
QByteArray zeroTerminated(const QString& text) {
    QByteArray bytes = text.toLatin1();
    bytes.append('\0');
    return bytes;
}

}  // namespace

QKeylightClient::QKeylightClient(quint16 port) : _port(port) {
    qRegisterMetaType<std::vector<QByteArray>>("vector<QByteArray>");
    connect(&_socket, &QTcpSocket::connected, this, &QKeylightClient::connected);
    startConnecting();
}

QKeylightClient::~QKeylightClient() = default;

void QKeylightClient::startConnecting() {
    _socket.connectToHost(QHostAddress(QHostAddress::LocalHost), _port, QIODevice::ReadWrite);
}

bool QKeylightClient::isConnected() const {
    return _socket.state() == QAbstractSocket::ConnectedState;
}

QString QKeylightClient::errorString() const {
    return _socket.errorString();
}

bool QKeylightClient::waitConnected(int msecs) {
    if (isConnected())
        return true;
    if (_socket.state() == QAbstractSocket::UnconnectedState)
        startConnecting();
    if (!isConnected())
        _socket.waitForConnected(msecs);
    return isConnected();
}

bool QKeylightClient::connectWithin(int msecs) {
    if (_socket.state() == QAbstractSocket::UnconnectedState)
        startConnecting();
    QElapsedTimer elapsed;
    elapsed.start();
    QMutex pauseLock;
    QWaitCondition pause;
    qint64 remaining = msecs;
    while (remaining > 0) {
        const QAbstractSocket::SocketState state = _socket.state();
        if (state != QAbstractSocket::ConnectedState && state != QAbstractSocket::ConnectingState &&
            state != QAbstractSocket::HostLookupState)
            startConnecting();
        if (isConnected())
            return true;
        if (_socket.waitForConnected(static_cast<int>(remaining)))
            return true;
        pauseLock.lock();
        pause.wait(&pauseLock, RETRY_PAUSE_MS);
        pauseLock.unlock();
        remaining = msecs - elapsed.elapsed();
    }
    return false;
}

bool QKeylightClient::waitForBytesWritten(int msecs) {
    return _socket.waitForBytesWritten(msecs);
}

bool QKeylightClient::readyToSend() {
    if (_socket.state() == QAbstractSocket::UnconnectedState)
        startConnecting();
    if (!isConnected())
        _socket.waitForConnected(SEND_CONNECT_WAIT_MS);
    return isConnected();
}

// Nothing flushes here: the bytes leave the write buffer when the event loop runs.
void QKeylightClient::writeFrame(const QByteArray& record) {
    std::vector<uint8_t> frame;
    klm_append_frame(frame, record.constData(), static_cast<size_t>(record.size()));
    _socket.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
}

void QKeylightClient::msg(const QByteArray& record) {
    if (!readyToSend())
        return;
    writeFrame(record);
}

void QKeylightClient::msg(const vector<QByteArray>& records) {
    if (!readyToSend())
        return;
    for (const QByteArray& record : records)
        writeFrame(record);
}

void QKeylightClient::connected() {}

QByteArray makeSetLEDButtonState(int button_id, int state, int time) {
    return bytesOf(klm_record_of<KLM_SetLEDButtonState>(button_id, state, time));
}

QByteArray makeSetLEDStatusIndicator(int indicator_id, int state) {
    return bytesOf(klm_record_of<KLM_SetLEDStatusIndicator>(indicator_id, state));
}

QByteArray makeSetLEDToggleIndicator(int indicator_id, int state) {
    return bytesOf(klm_record_of<KLM_SetLEDToggleIndicator>(indicator_id, state));
}

QByteArray makeUploadImage(int image_id, const char* data, int size) {
    KLM_UploadImage head{};
    head._type = TYPE_UPLOAD_IMAGE;
    head._image_id = image_id;
    head._size = size;
    // The image area is fixed at 120 bytes: a larger size must not write past it.
    const int copied = std::clamp(size, 0, static_cast<int>(KLM_UPLOAD_IMAGE_BYTES));
    if (copied > 0) {
        std::memcpy(head._data, data, static_cast<size_t>(copied));
    }
    return bytesOf(klm_record(head));
}

QByteArray makeSetButtonImage(int button_id, int image_id) {
    return bytesOf(klm_record_of<KLM_SetButtonImage>(button_id, image_id));
}

QByteArray makeTextLine(int screen_id, int line_id, const QString& text, bool inverted) {
    const QByteArray ascii = zeroTerminated(text);
    return bytesOf(klm_tailed_record_of<KLM_TextLine>(
        ascii.constData(), static_cast<size_t>(ascii.size()), screen_id, line_id, inverted));
}

QByteArray makeSubTextLine(int screen_id, int line_id, int offset, int num_chars,
                           const QString& text, int text_colour, int back_colour) {
    const QByteArray ascii = zeroTerminated(text);
    return bytesOf(klm_tailed_record_of<KLM_SubTextLine>(
        ascii.constData(), static_cast<size_t>(ascii.size()), screen_id, line_id, offset, num_chars,
        text_colour, back_colour));
}

QByteArray makeBlackoutScreen(int screen_id) {
    return bytesOf(klm_record_of<KLM_BlackoutScreen>(screen_id));
}

QByteArray makeQuery() {
    return bytesOf(klm_query_record());
}

QByteArray makeDrawTFTImage(int screen_id, int xoffset, int yoffset, int size, const char* data) {
    printf("Before hton_KLM_DrawTFTImage... size = %d\n", size);
    const QByteArray bytes = bytesOf(klm_tailed_record_of<KLM_DrawTFTImage>(
        data, static_cast<size_t>(std::max(size, 0)), screen_id, xoffset, yoffset));
    puts("After hton_KLM_DrawTFTImage...");
    return bytes;
}

QByteArray makeReconfigure() {
    return bytesOf(klm_record_of<KLM_Reconfigure>(0));
}

QByteArray makeImageList(int button_id, const std::vector<int>& image_ids, int value_b,
                         int value_a) {
    const std::vector<uint32_t> words(image_ids.begin(), image_ids.end());
    constexpr uint32_t RESERVED = 0;
    return bytesOf(klm_tailed_record_of<KLM_ImageList>(
        words.data(), words.size() * sizeof(uint32_t), button_id, RESERVED, value_a, value_b));
}

std::vector<QByteArray> makeImageBatch(int button_id, const std::vector<QByteArray>& images,
                                       int first, int value_b, int value_a) {
    std::vector<QByteArray> batch;
    std::vector<int> numbers;
    for (size_t i = 0; i < images.size(); ++i) {
        const int number = first + static_cast<int>(i);
        batch.push_back(
            makeUploadImage(number, images[i].constData(), static_cast<int>(images[i].size())));
        numbers.push_back(number);
    }
    batch.push_back(makeImageList(button_id, numbers, value_b, value_a));
    return batch;
}

}  // namespace keylight
