// Qt connector to keylight: one TCP connection to the server on the local host, slots that
// frame and write records, and builders that return ready-to-send records.
//
// Records are sent and forgotten: while keylight cannot be reached within 1000 ms a send is
// dropped without a message, and nothing is queued for later. The client never reads from
// its socket, so the answer to a query record stays in the socket's input buffer.
// A client lives in the thread that created it; its waits block that thread.
#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <vector>

Q_DECLARE_METATYPE(std::vector<QByteArray>)

namespace keylight {

// The batch slot's signature reads "msg(vector<QByteArray>)", the name under which the
// batch type is registered with the meta-type system.
using std::vector;

// Port keylight listens on unless told otherwise.
constexpr quint16 KEYLIGHT_DEFAULT_PORT = 3003;

class QKeylightClient : public QObject {
    Q_OBJECT

public:
    // Starts connecting to the local host on `port` and returns without waiting.
    explicit QKeylightClient(quint16 port = KEYLIGHT_DEFAULT_PORT);
    ~QKeylightClient() override;

    // True at once when connected; otherwise starts a connection if none is under way and
    // waits up to msecs for it. Returns whether the socket is connected now.
    bool waitConnected(int msecs);
    // Keeps trying to connect, pausing 200 ms after each refused attempt, until connected
    // (true) or msecs have passed (false).
    bool connectWithin(int msecs);
    // The socket's own wait until buffered bytes have been written.
    bool waitForBytesWritten(int msecs);
    // Whether the socket is connected now; nothing is started or waited for. A record given
    // to msg() while this is true went into the socket's write buffer.
    bool isConnected() const;
    // Why the last connection attempt or write failed, as the socket words it.
    QString errorString() const;

public slots:
    // Frames one record (network order) and writes it, connecting first if need be.
    void msg(const QByteArray& record);
    // Frames and writes several records in order, connecting once for all of them.
    void msg(const vector<QByteArray>& records);
    void connected();

private:
    void startConnecting();
    // Connects if need be, waiting up to 1000 ms; false when the records must be dropped.
    bool readyToSend();
    void writeFrame(const QByteArray& record);

    QTcpSocket _socket;
    quint16 _port;
};

// Builders: each returns one record of exactly size_KLM_<Name> bytes in network order.
// None of them checks its arguments.
QByteArray makeSetLEDButtonState(int button_id, int state, int time);
QByteArray makeSetLEDStatusIndicator(int indicator_id, int state);
QByteArray makeSetLEDToggleIndicator(int indicator_id, int state);
// Copies at most the 120 bytes that the record's image area holds; `_size` keeps `size`.
QByteArray makeUploadImage(int image_id, const char* data, int size);
QByteArray makeSetButtonImage(int button_id, int image_id);
// Text goes out one byte per character (characters outside Latin-1 as '?') with its zero.
QByteArray makeTextLine(int screen_id, int line_id, const QString& text, bool inverted);
QByteArray makeSubTextLine(int screen_id, int line_id, int offset, int num_chars,
                           const QString& text, int text_colour, int back_colour);
QByteArray makeBlackoutScreen(int screen_id);
QByteArray makeQuery();
// Copies `size` bytes of the image file from data.
QByteArray makeDrawTFTImage(int screen_id, int xoffset, int yoffset, int size, const char* data);
QByteArray makeReconfigure();
QByteArray makeImageList(int button_id, const std::vector<int>& image_ids, int value_b,
                         int value_a);
// One upload per image, numbered from `first`, then the image list of those numbers.
std::vector<QByteArray> makeImageBatch(int button_id, const std::vector<QByteArray>& images,
                                       int first, int value_b, int value_a);

}  // namespace keylight
