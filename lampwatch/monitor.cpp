#include "monitor.h"

#include "debugline.h"

#include <QDebug>
#include <QSettings>

#include <cstring>
#include <utility>

namespace lampwatch {

namespace {

constexpr QLatin1String REGISTER_DEVICE("/dev/fpga-reg");
constexpr int CONNECT_WAIT_MS = 2000;
constexpr int PSU_LED = 0;
constexpr int START_INDICATOR = 1;

// Status bits with both power supplies plugged in.
constexpr int BOTH_SUPPLIES = 3;

}  // namespace

Monitor::Monitor(int interval, StatusSource source, QString settings_path, quint16 port)
    : _interval(interval),
      _client(port),
      _source(std::move(source)),
      _settings_path(std::move(settings_path)),
      _port(port) {
    _source_error = _source.open();
    if (_source_error != 0) {
        qWarning().noquote() << QStringLiteral(
                                    "lampwatch: cannot open register device \"%1\": %2; "
                                    "trying again at every poll")
                                    .arg(REGISTER_DEVICE,
                                         QString::fromLocal8Bit(std::strerror(_source_error)));
    }
    DebugLine() << "Creating Monitor instance...";
    _psu_status = 0;
    _client.waitConnected(CONNECT_WAIT_MS);
    _redundant = readRedundant();
    DebugLine() << "Redundant PSU's? " << (_redundant ? "True" : "False");
    connect(&_timer, &QTimer::timeout, this, &Monitor::update);
    DebugLine() << "Setting poll interval to " << _interval << " msecs";
    _timer.start(_interval);
    _indicator_owed = true;
    sendOwed();
    update();
}

void Monitor::update() {
    const int status = sourceOpen() ? _source.read() : _psu_status;
    noticeLostConnection();
    if (status == _psu_status) {
        sendOwed();
        return;
    }
    DebugLine() << "new_psu_status = " << status;
    DebugLine() << "_psu_status = " << _psu_status;
    applyStatus(status);
    _psu_status = status;
}

void Monitor::applyStatus(int status) {
    DebugLine() << "PSU status has changed from " << _psu_status << " to " << status;
    int state = 1;
    if (!_redundant) {
        if (status == 0) {
            DebugLine(QtCriticalMsg) << "Error: no bits are set!!";
            state = 0;
        }
    } else if (status == BOTH_SUPPLIES) {
        DebugLine() << "Both bits are set";
    } else {
        DebugLine(QtCriticalMsg) << "Dual mode error: both PSU's are not plugged in.";
        state = 0;
    }
    DebugLine() << "Setting PSU LED to state " << state;
    _psu_led = state;
    _psu_led_owed = true;
    sendOwed();
}

bool Monitor::readRedundant() {
    QSettings settings(_settings_path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        DebugLine(QtCriticalMsg) << "Error accessing '" << _settings_path << "' for reading";
        return false;
    }
    return settings.value(QStringLiteral("psu/redundant"), false).toBool();
}

bool Monitor::send(const QByteArray& record) {
    _client.msg(record);
    _link_up = _client.isConnected();
    if (!_link_up) {
        reportOutage(_client.errorString());
    } else if (_outage) {
        _outage = false;
        qInfo().noquote()
            << QStringLiteral("lampwatch: keylight on 127.0.0.1 port %1 is back").arg(_port);
    }
    return _link_up;
}

void Monitor::reportOutage(const QString& reason) {
    if (_outage)
        return;
    _outage = true;
    qWarning().noquote() << QStringLiteral(
                                "lampwatch: cannot reach keylight on 127.0.0.1 port %1: %2; "
                                "trying again at the next polls")
                                .arg(_port)
                                .arg(reason);
}

bool Monitor::sourceOpen() {
    if (_source_error == 0)
        return true;
    _source_error = _source.open();
    if (_source_error != 0)
        return false;
    qInfo().noquote()
        << QStringLiteral("lampwatch: register device \"%1\" is open").arg(REGISTER_DEVICE);
    return true;
}

// The socket learns of a closed connection while the event loop runs between polls.
void Monitor::noticeLostConnection() {
    if (!_link_up || _client.isConnected())
        return;
    _link_up = false;
    reportOutage(QStringLiteral("the connection was closed"));
    _indicator_owed = true;
    _psu_led_owed = _psu_led >= 0;
}

void Monitor::sendOwed() {
    if (_psu_led_owed) {
        _psu_led_owed = !send(keylight::makeSetLEDToggleIndicator(PSU_LED, _psu_led));
        if (_psu_led_owed)
            return;
    }
    if (_indicator_owed)
        _indicator_owed = !send(keylight::makeSetLEDToggleIndicator(START_INDICATOR, 1));
}

}  // namespace lampwatch
