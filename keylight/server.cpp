#include "server.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstdio>
#include <vector>

#include "buttonsetterimpl.h"
#include "connector.h"
#include "panel.h"
#include "panelmapbuilder.h"
#include "servicemanager.h"

namespace keylight {

namespace {

constexpr quint16 DEFAULT_PORT = 3003;
constexpr int STOP_CHECK_MS = 10;
// A connection accepted just before the stop may not have sent yet: the server waits this
// long after the last unread bytes before it calls the connections read.
constexpr qint64 QUIET_MS = 100;

}  // namespace

Server::Server(const ServerPaths& paths)
    : _level_file(paths.levelFile),
      _runtime_directory(paths.runtimeDirectory),
      _fpga(paths.settingsFile, paths.fontDirectory) {}

// The members' order is the teardown's: the connector and the dispatcher, which reach the
// buttons, go before them.
Server::~Server() = default;

bool Server::start(const QStringList& arguments) {
    if (arguments.size() < 2) {
        qCritical() << "keylight:map file must be specified as first argument!!!";
        return false;
    }
    const QString address = arguments.size() > 2 ? arguments.at(2) : QString();
    const quint16 port =
        arguments.size() > 3 ? arguments.at(3).toUShort(nullptr, 10) : DEFAULT_PORT;

    PanelMapBuilder builder;
    _buttons = builder.buildMap(_map, &_fpga);

    _setter = std::make_unique<ButtonSetterImpl>(_level_file);
    _setter->setButtons(ButtonMap(_map));
    _setter->setFPGA(&_fpga);
    _setter->keepBlinkTable(_runtime_directory);

    std::vector<int> passed;
    if (!service::takeListeningSockets(passed)) {
        return false;
    }
    _connector = std::make_unique<Connector>(address, port, _setter.get(), &_fpga);
    if (!_connector->listen(passed)) {
        log_puts(log_priority::err, "keylight:failed to start server");
    }
    _watchdog = std::make_unique<Watchdog>(&_fpga);
    return true;
}

void Server::stop() {
    if (_stop_clock.isValid()) {
        return;
    }
    service::notify(QStringLiteral("STOPPING=1"));
    if (_connector) {
        _waiting_at_stop = _connector->stopAccepting();
    }
    _stop_clock.start();
    _stopping.setInterval(STOP_CHECK_MS);
    QObject::connect(&_stopping, &QTimer::timeout, [this] { checkStopped(); });
    _stopping.start();
}

void Server::checkStopped() {
    const qint64 elapsed = _stop_clock.elapsed();
    const int sending = _connector ? _connector->connectionsWithUnreadBytes() : 0;
    if (sending > 0) {
        _last_unread_ms = elapsed;
    }
    const size_t unfinished = _fpga.unfinishedTasks();
    const bool done = elapsed - _last_unread_ms >= QUIET_MS && unfinished == 0;
    if (!done && elapsed < STOP_BOUND_MS) {
        return;
    }
    _stopping.stop();
    if (done) {
        qInfo().noquote() << QStringLiteral(
                                 "keylight: stopped on SIGTERM in %1 ms: %2, all that the "
                                 "connections sent read, all hardware work done")
                                 .arg(elapsed)
                                 .arg(_waiting_at_stop);
    } else {
        qWarning().noquote() << QStringLiteral(
                                    "keylight: stopped on SIGTERM after %1 ms: %2, %3 "
                                    "connections still sending, %4 hardware tasks left undone")
                                    .arg(elapsed)
                                    .arg(_waiting_at_stop)
                                    .arg(sending)
                                    .arg(unfinished);
    }
    QCoreApplication::exit(0);
}

quint16 Server::listeningPort() const {
    return _connector ? _connector->serverPort() : 0;
}

}  // namespace keylight
