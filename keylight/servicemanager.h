// keylight under systemd: the listening socket systemd may hand over, the readiness and status
// keylight reports, and the watchdog it keeps fed. Started by hand, without systemd, none of
// this does anything.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace keylight {

class FPGA;

namespace service {

// The TCP listening socket systemd passed (socket activation), or -1 when it passed none or
// something else. Call once: the variables that announce it are cleared.
int takeListeningSocket();

// Sends newline-separated state assignments ("READY=1", "STATUS=...") to systemd; nothing
// when keylight was not started by it.
void notify(const QString& state);

}  // namespace service

// Tells systemd's watchdog that keylight is alive, from the event loop, for as long as the
// worker gets on with its work: once the worker has had work waiting and finished nothing for
// longer than the watchdog allows, it logs why and stops telling, so that systemd replaces
// the process. A frozen event loop stops telling by itself.
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
