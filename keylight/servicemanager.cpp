#include "servicemanager.h"

#include <QDebug>

#include <systemd/sd-daemon.h>

#include <sys/socket.h>

#include <cstdint>

#include "fpga.h"

namespace keylight {

bool service::takeListeningSockets(std::vector<int>& sockets) {
    const int count = sd_listen_fds(1);
    for (int descriptor = SD_LISTEN_FDS_START; descriptor < SD_LISTEN_FDS_START + count;
         ++descriptor) {
        if (sd_is_socket_inet(descriptor, AF_UNSPEC, SOCK_STREAM, 1, 0) <= 0) {
            qCritical().noquote()
                << QStringLiteral(
                       "keylight: socket %1 of the %2 that systemd passed is no listening TCP "
                       "socket, and keylight serves only those: give keylight.socket "
                       "ListenStream= lines of IPv4 and IPv6 addresses and ports only")
                       .arg(descriptor - SD_LISTEN_FDS_START + 1)
                       .arg(count);
            sockets.clear();
            return false;
        }
        sockets.push_back(descriptor);
    }
    return true;
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
    if (stalled > _allowed && !FPGA::waitsForDevice()) {
        _timer.stop();
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: the worker has finished no hardware task for %1 ms with work "
                   "waiting, longer than the watchdog's %2 ms, and is not waiting for the "
                   "device: no longer telling systemd that keylight is alive, so that it "
                   "restarts keylight")
                   .arg(stalled.count())
                   .arg(_allowed.count());
        return;
    }
    service::notify(QStringLiteral("WATCHDOG=1"));
}

}  // namespace keylight
