// What keylight holds of frames still arriving, across every connection, counted together with
// the hardware work waiting for the worker: the process stays within one budget however many
// clients send large frames at once, and however slowly.
//
// A connection buffers ClientKeylight::READ_CHUNK bytes on its own; a frame larger than that
// is read only under a grant of its whole size. Grants go in the order they were asked for,
// each once the budget has room for all of it, so no two half-read frames wait for each
// other's room. A connection that waits for a grant is not read: TCP holds the rest of its
// frame in the system's socket buffer and then in the peer.
//
// Peers that stop in the middle of their frames hold their grants for as long as they like.
// So that a client can still draw a picture meanwhile, a frame whose bytes have all arrived in
// the system's socket buffer, on a connection that may be read now, is read under a reserve of
// one largest frame, which it gives back as soon as the frame has been cut.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <map>

namespace keylight {

class ClientKeylight;
class FPGA;

class FrameBudget : public QObject {
    Q_OBJECT

public:
    // Frames being read and hardware work waiting, in bytes: together with a connection's own
    // buffer, some 20 MiB for 600 connections, a quarter of what the unit allows.
    static constexpr size_t PROCESS_BUDGET = 8 * 1024 * 1024;
    // How often the connections waiting for a grant are looked at while any waits: a whole
    // frame waits this long at most for the reserve.
    static constexpr int WAITING_CHECK_MS = 100;

    // The work waiting for fpga (none without one) counts against budget; the queue may always
    // fill to its own FPGA::QUEUE_BUDGET.
    explicit FrameBudget(const FPGA* fpga, size_t budget = PROCESS_BUDGET);

    // Asks room for client's frame of bytes: ClientKeylight::frameGranted() tells it, at once
    // when the budget has the room and no request is older. A client asks for one frame at a
    // time.
    void request(ClientKeylight* client, size_t bytes);
    // Gives back client's grant, or withdraws its request.
    void release(ClientKeylight* client);

private:
    struct Request {
        ClientKeylight* client;
        size_t bytes;
    };

    // Grants what the budget has room for, and the reserve to a frame that has arrived whole.
    void checkWaiting();
    void grantOldest();
    void grantReserve(std::deque<Request>::iterator request);
    void checkWhileWaiting();
    size_t room() const;

    const FPGA* _fpga;
    size_t _budget;
    size_t _granted = 0;  // the grants out of the budget
    std::map<ClientKeylight*, size_t> _grants;
    ClientKeylight* _reserve_holder = nullptr;
    std::deque<Request> _waiting;
    QTimer _waiting_check;
};

}  // namespace keylight
