#include "servicemanager.h"

#include <QDebug>

#include <systemd/sd-daemon.h>

#include <sys/socket.h>

#include <cstdint>

#include "fpga.h"

namespace keylight {

int service::takeListeningSocket() {
    if (sd_listen_fds(1) != 1) {
        return -1;
    }
    const int descriptor = SD_LISTEN_FDS_START;
    return sd_is_socket(descriptor, AF_UNSPEC, SOCK_STREAM, 1) > 0 ? descriptor : -1;
}

void service::notify(const QString& state) {
    sd_notify(0, state.toUtf8().constData());
}

Watchdog::Watchdog(const FPGA* fpga) : _fpga(fpga) {
    uint64_t microseconds = 0;
    if (sd_watchdog_enabled(0, &microseconds) <= 0) {
        return;
    }
    _allowed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::microseconds(microseconds));
    // Twice per period, as systemd asks: a late tick still arrives in time.
    _timer.setInterval(_allowed / 2);
    connect(&_timer, &QTimer::timeout, this, &Watchdog::tell);
    _timer.start();
    tell();
}

void Watchdog::tell() {
    const std::chrono::milliseconds stalled = _fpga->stalledFor();
    if (stalled > _allowed) {
        _timer.stop();
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: the worker has finished no hardware task for %1 ms with work "
                   "waiting, longer than the watchdog's %2 ms: no longer telling systemd that "
                   "keylight is alive, so that it restarts keylight")
                   .arg(stalled.count())
                   .arg(_allowed.count());
        return;
    }
    service::notify(QStringLiteral("WATCHDOG=1"));
}

}  // namespace keylight
