// One client connection: cuts its byte stream into frames and hands each batch of messages
// to the dispatcher.
#pragma once

#include <QObject>

#include <cstdint>

class QTcpSocket;

namespace keylight {

class ButtonSetter;

class ClientKeylight : public QObject {
    Q_OBJECT

public:
    // The largest frame the server buffers; no message it acts on comes near it.
    static constexpr uint32_t kLargestFrame = 1024 * 1024;

    // Takes the next connection tag (1000, 2000, ...), also for a null socket, which leaves
    // the object inert. The object deletes itself once its connection has ended.
    ClientKeylight(QObject* parent, QTcpSocket* socket, ButtonSetter* setter);
    ~ClientKeylight() override;

    int descriptor() const;
    int tag() const;

public slots:
    void clientDisconnected();
    // Delivers every whole frame that has arrived as one batch, also an empty one; a partial
    // frame waits in the socket. A frame announcing more than kLargestFrame bytes ends the
    // connection after the frames before it have been delivered.
    void clientData();

private:
    void refuseOversizedFrame(uint32_t length);
    void releaseSocket();

    QTcpSocket* _socket;
    ButtonSetter* _setter;
    int _descriptor = -1;
    int _tag;
};

}  // namespace keylight
