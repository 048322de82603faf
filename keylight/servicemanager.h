// keylight under systemd: the listening socket systemd may hand over, the readiness and status
// keylight reports, and the watchdog it keeps fed. Started by hand, without systemd, none of
// this does anything.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <vector>

namespace keylight {

class FPGA;

namespace service {

// Puts into sockets the listening sockets systemd passed (socket activation), none when it
// passed none. Every one must be a listening TCP socket (IPv4 or IPv6): otherwise it names
// the first that is not in one critical line and returns false, and keylight must not start,
// as a restart would get the same set. Call once: the variables that announce them are cleared.
bool takeListeningSockets(std::vector<int>& sockets);

// Sends newline-separated state assignments ("READY=1", "STATUS=...") to systemd; nothing
// when keylight was not started by it.
void notify(const QString& state);

}  // namespace service

// Tells systemd's watchdog that keylight is alive, from the event loop, for as long as keylight
// itself gets on: once the worker has had work waiting and finished nothing for longer than
// the watchdog allows while it is not waiting for the device, it logs why and stops telling,
// so that systemd replaces the process. A frozen event loop stops telling by itself. A worker
// held in a register request by a device that does not answer is no fault of keylight's, and
// a new keylight would not mend the device: it goes on telling (the device's stall has its
// own line).
class Watchdog : public QObject {
    Q_OBJECT

public:
    // Starts telling when systemd watches keylight; fpga is not owned.
    explicit Watchdog(const FPGA* fpga);

private:
    void tell();

    const FPGA* _fpga;
    std::chrono::milliseconds _allowed{0};
    QTimer _timer;
};

}  // namespace keylight
