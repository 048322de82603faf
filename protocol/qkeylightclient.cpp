#include "qkeylightclient.h"

#include "klm.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutex>
#include <QWaitCondition>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace keylight {

namespace {

constexpr int SEND_CONNECT_WAIT_MS = 1000;
constexpr int RETRY_PAUSE_MS = 200;

// A record starts as its fixed part in host order, copied into the byte array that will be
// sent; the caller appends the variable part and converts the whole array in place.
template <typename Record>
QByteArray recordBytes(const Record& head)
{
    return QByteArray(reinterpret_cast<const char*>(&head), static_cast<int>(sizeof head));
}

// The converters touch record bytes only through byte copies, so the array's storage may
// be handed to them whatever its alignment.
template <typename Record>
Record* recordIn(QByteArray& bytes)
{
    return reinterpret_cast<Record*>(bytes.data());
}

// ASCII form of a text with its terminating zero.
QByteArray zeroTerminated(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    bytes.append('\0');
    return bytes;
}

} // namespace

QKeylightClient::QKeylightClient(quint16 port) : _port(port)
{
    qRegisterMetaType<std::vector<QByteArray>>("vector<QByteArray>");
    connect(&_socket, &QTcpSocket::connected, this, &QKeylightClient::connected);
    startConnecting();
}

QKeylightClient::~QKeylightClient() = default;

void QKeylightClient::startConnecting()
{
    _socket.connectToHost(QHostAddress(QHostAddress::LocalHost), _port, QIODevice::ReadWrite);
}

bool QKeylightClient::isConnected() const
{
    return _socket.state() == QAbstractSocket::ConnectedState;
}

QString QKeylightClient::errorString() const
{
    return _socket.errorString();
}

bool QKeylightClient::waitConnected(int msecs)
{
    if (isConnected())
        return true;
    if (_socket.state() == QAbstractSocket::UnconnectedState)
        startConnecting();
    if (!isConnected())
        _socket.waitForConnected(msecs);
    return isConnected();
}

bool QKeylightClient::connectWithin(int msecs)
{
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

bool QKeylightClient::waitForBytesWritten(int msecs)
{
    return _socket.waitForBytesWritten(msecs);
}

bool QKeylightClient::readyToSend()
{
    if (_socket.state() == QAbstractSocket::UnconnectedState)
        startConnecting();
    if (!isConnected())
        _socket.waitForConnected(SEND_CONNECT_WAIT_MS);
    return isConnected();
}

// Nothing flushes here: the bytes leave the write buffer when the event loop runs.
void QKeylightClient::writeFrame(const QByteArray& record)
{
    uchar length[4];
    qToBigEndian(static_cast<quint32>(record.size()), length);
    _socket.write(reinterpret_cast<const char*>(length), sizeof length);
    _socket.write(record);
}

void QKeylightClient::msg(const QByteArray& record)
{
    if (!readyToSend())
        return;
    writeFrame(record);
}

void QKeylightClient::msg(const vector<QByteArray>& records)
{
    if (!readyToSend())
        return;
    for (const QByteArray& record : records)
        writeFrame(record);
}

void QKeylightClient::connected() {}

QByteArray makeSetLEDButtonState(int button_id, int state, int time)
{
    KLM_SetLEDButtonState head{};
    head._type = TYPE_SET_LED_BUTTON_STATE;
    head._button_id = button_id;
    head._state = state;
    head._time = time;
    QByteArray bytes = recordBytes(head);
    hton_KLM_SetLEDButtonState(recordIn<KLM_SetLEDButtonState>(bytes), recordIn<KLM_SetLEDButtonState>(bytes));
    return bytes;
}

QByteArray makeSetLEDStatusIndicator(int indicator_id, int state)
{
    KLM_SetLEDStatusIndicator head{};
    head._type = TYPE_SET_LED_STATUS_INDICATOR;
    head._indicator_id = indicator_id;
    head._state = state;
    QByteArray bytes = recordBytes(head);
    hton_KLM_SetLEDStatusIndicator(recordIn<KLM_SetLEDStatusIndicator>(bytes),
                                   recordIn<KLM_SetLEDStatusIndicator>(bytes));
    return bytes;
}

QByteArray makeSetLEDToggleIndicator(int indicator_id, int state)
{
    KLM_SetLEDToggleIndicator head{};
    head._type = TYPE_SET_LED_TOGGLE_INDICATOR;
    head._indicator_id = indicator_id;
    head._state = state;
    QByteArray bytes = recordBytes(head);
    hton_KLM_SetLEDToggleIndicator(recordIn<KLM_SetLEDToggleIndicator>(bytes),
                                   recordIn<KLM_SetLEDToggleIndicator>(bytes));
    return bytes;
}

QByteArray makeUploadImage(int image_id, const char* data, int size)
{
    KLM_UploadImage head{};
    head._type = TYPE_UPLOAD_IMAGE;
    head._image_id = image_id;
    head._size = size;
    // The image area is fixed at 120 bytes: a larger size must not write past it.
    const int copied = std::clamp(size, 0, static_cast<int>(KLM_UPLOAD_IMAGE_BYTES));
    if (copied > 0)
        std::memcpy(head._data, data, static_cast<size_t>(copied));
    QByteArray bytes = recordBytes(head);
    hton_KLM_UploadImage(recordIn<KLM_UploadImage>(bytes), recordIn<KLM_UploadImage>(bytes));
    return bytes;
}

QByteArray makeSetButtonImage(int button_id, int image_id)
{
    KLM_SetButtonImage head{};
    head._type = TYPE_SET_BUTTON_IMAGE;
    head._button_id = button_id;
    head._image_id = image_id;
    QByteArray bytes = recordBytes(head);
    hton_KLM_SetButtonImage(recordIn<KLM_SetButtonImage>(bytes), recordIn<KLM_SetButtonImage>(bytes));
    return bytes;
}

QByteArray makeTextLine(int screen_id, int line_id, const QString& text, bool inverted)
{
    const QByteArray ascii = zeroTerminated(text);
    KLM_TextLine head{};
    head._type = TYPE_TFT_TEXT_LINE;
    head._screen_id = screen_id;
    head._line_id = line_id;
    head._inverted = inverted ? 1 : 0;
    head._text_len = static_cast<uint32_t>(ascii.size());
    QByteArray bytes = recordBytes(head) + ascii;
    hton_KLM_TextLine(recordIn<KLM_TextLine>(bytes), recordIn<KLM_TextLine>(bytes));
    return bytes;
}

QByteArray makeSubTextLine(int screen_id, int line_id, int offset, int num_chars, const QString& text,
                           int text_colour, int back_colour)
{
    const QByteArray ascii = zeroTerminated(text);
    KLM_SubTextLine head{};
    head._type = TYPE_TFT_SUB_TEXT_LINE;
    head._screen_id = screen_id;
    head._line_id = line_id;
    head._offset = offset;
    head._num_chars = num_chars;
    head._text_colour = text_colour;
    head._back_colour = back_colour;
    head._text_len = static_cast<uint32_t>(ascii.size());
    QByteArray bytes = recordBytes(head) + ascii;
    hton_KLM_SubTextLine(recordIn<KLM_SubTextLine>(bytes), recordIn<KLM_SubTextLine>(bytes));
    return bytes;
}

QByteArray makeBlackoutScreen(int screen_id)
{
    KLM_BlackoutScreen head{};
    head._type = TYPE_BLACKOUT_SCREEN;
    head._screen_id = screen_id;
    QByteArray bytes = recordBytes(head);
    hton_KLM_BlackoutScreen(recordIn<KLM_BlackoutScreen>(bytes), recordIn<KLM_BlackoutScreen>(bytes));
    return bytes;
}

// The query has no record structure: its type field alone.
QByteArray makeQuery()
{
    uchar type[4];
    qToBigEndian(static_cast<quint32>(TYPE_QUERY), type);
    return QByteArray(reinterpret_cast<const char*>(type), sizeof type);
}

QByteArray makeDrawTFTImage(int screen_id, int xoffset, int yoffset, int size, const char* data)
{
    KLM_DrawTFTImage head{};
    head._type = TYPE_DRAW_TFT_IMAGE;
    head._screen_id = screen_id;
    head._xoffset = xoffset;
    head._yoffset = yoffset;
    head._size = size;
    QByteArray bytes = recordBytes(head) + QByteArray(data, size);
    printf("Before hton_KLM_DrawTFTImage... size = %d\n", size);
    hton_KLM_DrawTFTImage(recordIn<KLM_DrawTFTImage>(bytes), recordIn<KLM_DrawTFTImage>(bytes));
    puts("After hton_KLM_DrawTFTImage...");
    return bytes;
}

QByteArray makeReconfigure()
{
    KLM_Reconfigure head{};
    head._type = TYPE_RECONFIGURE;
    QByteArray bytes = recordBytes(head);
    hton_KLM_Reconfigure(recordIn<KLM_Reconfigure>(bytes), recordIn<KLM_Reconfigure>(bytes));
    return bytes;
}

QByteArray makeImageList(int button_id, const std::vector<int>& image_ids, int value_b, int value_a)
{
    KLM_ImageList head{};
    head._type = TYPE_IMAGE_LIST;
    head._button_id = button_id;
    head._value_a = value_a;
    head._value_b = value_b;
    head._count = static_cast<uint32_t>(image_ids.size());
    QByteArray bytes = recordBytes(head);
    for (int id : image_ids) {
        const uint32_t word = static_cast<uint32_t>(id);
        bytes.append(reinterpret_cast<const char*>(&word), sizeof word);
    }
    hton_KLM_ImageList(recordIn<KLM_ImageList>(bytes), recordIn<KLM_ImageList>(bytes));
    return bytes;
}

std::vector<QByteArray> makeImageBatch(int button_id, const std::vector<QByteArray>& images, int first,
                                       int value_b, int value_a)
{
    std::vector<QByteArray> batch;
    std::vector<int> numbers;
    for (size_t i = 0; i < images.size(); ++i) {
        const int number = first + static_cast<int>(i);
        batch.push_back(makeUploadImage(number, images[i].constData(), static_cast<int>(images[i].size())));
        numbers.push_back(number);
    }
    batch.push_back(makeImageList(button_id, numbers, value_b, value_a));
    return batch;
}

} // namespace keylight
