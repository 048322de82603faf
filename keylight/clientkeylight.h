// One client connection: cuts its byte stream into frames and hands each batch of messages
// to the dispatcher.
//
// A connection is read only while keylight can take what it sends: while the FPGA object
// accepts its work and while the peer has taken all but UNREAD_REPLIES bytes of its answers.
// Otherwise its bytes wait in the socket, the socket's buffer is limited, and TCP makes the
// peer wait; nothing is dropped and the messages are handled in the order they were sent.
// A frame larger than READ_CHUNK is read under a grant of the FrameBudget shared by all
// connections; until then it waits in the socket the same way. A frame larger than
// LARGEST_FRAME is dropped as it arrives, READ_CHUNK bytes at a time, and takes no grant.
#pragma once

#include <QObject>

#include <cstddef>
#include <cstdint>

#include "klmframe.h"

class QTcpSocket;

namespace keylight {

class ButtonSetter;
class FPGA;
class FrameBudget;

class ClientKeylight : public QObject {
    Q_OBJECT

public:
    // The largest frame the server buffers: the largest message it acts on.
    static constexpr uint32_t LARGEST_FRAME = KLM_LARGEST_FRAME;
    // The largest frame the server drops with a line and reads on after; a larger one ends
    // the connection.
    static constexpr uint32_t LARGEST_SKIPPED_FRAME = KLM_LARGEST_SKIPPED_FRAME;
    // What the socket buffers of a connection while frames are cut from it; a frame that is
    // larger gets room for the whole of it from the frame budget.
    static constexpr qint64 READ_CHUNK = 16 * 1024;
    // Answers the peer has not taken yet beyond which its connection is not read.
    static constexpr qint64 UNREAD_REPLIES = 64 * 1024;

    // Takes the next connection tag (1000, 2000, ...), also for a null socket, which leaves
    // the object inert. The object deletes itself once its connection has ended. The work
    // the connection's messages cause is posted as its own through fpga, whose queue holds
    // the connection back when full; without an FPGA object nothing does. Frames larger than
    // READ_CHUNK take their room from frames; without a budget they take it at once.
    ClientKeylight(QObject* parent, QTcpSocket* socket, ButtonSetter* setter, FPGA* fpga = nullptr,
                   FrameBudget* frames = nullptr);
    ~ClientKeylight() override;

    int descriptor() const;
    int tag() const;
    // Whether the peer has sent bytes that have not been handed to the dispatcher yet, a
    // partial frame included: in the socket, in the system's receive buffer, or held back.
    bool hasUnread() const;
    // Bytes read from the peer and not yet cut into frames.
    qint64 buffered() const;

    // From the frame budget: the frame being read may take bytes.
    void frameGranted(size_t bytes);
    // Whether all bytes of the frame waiting for its grant have arrived, in the socket or in
    // the system's buffer, and the connection may be read now: the frame would be cut at once.
    // A peer that has gone before sending all of them never will: its connection ends soon
    // after.
    bool waitingFrameArrived(size_t bytes);

public slots:
    // Delivers the frames still buffered, then releases the connection; while the
    // connection is held back, once it may be read again.
    void clientDisconnected();
    // Delivers every whole frame that has arrived as one batch, also an empty one; a partial
    // frame waits in the socket, and so does everything while the connection is held back. A
    // frame announcing more than LARGEST_FRAME bytes is dropped with one line at err; one
    // announcing more than LARGEST_SKIPPED_FRAME bytes ends the connection after the frames
    // before it have been delivered.
    void clientData();

private:
    bool mayRead() const;
    // Bytes of the peer not yet cut into frames: in the socket and in the system's buffer.
    qint64 unreadBytes() const;
    void resumeReading();
    void readOn(uint32_t frameInProgress);
    void bufferUpTo(qint64 bytes);
    void releaseFrameRoom();
    void endConnection();
    void skipFrame(uint32_t length, uint32_t type);
    void refuseOversizedFrame(uint32_t length);
    void releaseSocket();

    QTcpSocket* _socket;
    ButtonSetter* _setter;
    FPGA* _fpga;
    FrameBudget* _frames;
    int _descriptor = -1;
    int _tag;
    bool _held = false;       // frames wait in the socket until resumeReading()
    bool _peer_gone = false;  // disconnected; released once the buffered frames are delivered
    qint64 _frame_asked = 0;  // the frame in progress, asked for and not yet granted
    qint64 _frame_room = 0;   // the frame in progress, granted
    qint64 _skipping = 0;     // bytes of a dropped frame still to come
};

}  // namespace keylight
