// The PSU LED monitor: polls the power-supply status bits and shows their health on toggle
// indicator 0 (the PSU LED) through keylight; switches toggle indicator 1 on at start.
//
// A state that keylight did not take (unreachable at that moment) is owed and sent again at
// the following polls until a send goes through; when the connection is lost and comes back,
// both indicator states are sent again, so a restarted keylight shows the right PSU LED
// within one poll interval. While the bits do not change and nothing is owed, nothing is sent.
// An outage of keylight is logged once when it is found and once when keylight is back.
//
// A register device that cannot be opened (its driver loaded after the monitor started, or
// access not granted yet) is logged once with the reason, tried again at every poll and
// logged once more when it opens; the bits count as unchanged until then, and the first bits
// read are decided as usual.
#pragma once

#include "qkeylightclient.h"
#include "statussource.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace lampwatch {

constexpr const char* LAUNCHER_SETTINGS_PATH = "/etc/tesserax/launcher.cfg";

class Monitor : public QObject {
    Q_OBJECT

public:
    // Opens the status source, connects to keylight on the local host at `port` (waiting up
    // to 2000 ms), reads the "psu/redundant" setting from `settings_path`, starts polling
    // every `interval` ms, switches indicator 1 on and polls once.
    explicit Monitor(int interval, StatusSource source = hardwareStatusSource(),
                     QString settings_path = QString::fromLatin1(LAUNCHER_SETTINGS_PATH),
                     quint16 port = keylight::KEYLIGHT_DEFAULT_PORT);

    // Logs the change from the last status to `status`, decides the PSU LED state and sends it.
    void applyStatus(int status);
    // The "redundant" key of group "psu"; false when missing or when the file cannot be read.
    bool readRedundant();

public slots:
    // One poll.
    void update();

private:
    // Sends one record; true when it went to keylight.
    bool send(const QByteArray& record);
    // A connection that carried the last send and has since dropped owes both indicators.
    void noticeLostConnection();
    // Sends what is owed, PSU LED first, and stops at the first send that fails.
    void sendOwed();
    // Logs the start of an outage, unless one is already under way.
    void reportOutage(const QString& reason);
    // True once the status bits can be read; tries to open the source again until then.
    bool sourceOpen();

    int _interval;
    QTimer _timer;
    bool _redundant = false;
    int _psu_status = 0;
    keylight::QKeylightClient _client;

    StatusSource _source;
    int _source_error = 0;  // why the status bits cannot be read yet, 0 once they can
    QString _settings_path;
    quint16 _port;      // keylight's, for the log
    int _psu_led = -1;  // last decided PSU LED state, -1 before the first decision
    bool _psu_led_owed = false;
    bool _indicator_owed = false;  // toggle indicator 1 still to be switched on
    bool _link_up = false;         // the last send went through
    bool _outage = false;          // keylight found unreachable, and no send went through since
};

}  // namespace lampwatch
