// The objects of the keylight program, built in start-up order and torn down in reverse.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "buttonmap.h"
#include "fpga.h"

namespace keylight {

class ButtonSetterImpl;
class Connector;
class Watchdog;

// The files keylight reads. The program uses the defaults; tests use a temporary folder.
struct ServerPaths {
    QString settingsFile = QStringLiteral("/etc/tesserax/launcher.cfg");
    QString fontDirectory = QStringLiteral("/opt/tesserax/fonts");
    QString levelFile = QStringLiteral("/etc/tesserax/buttonlevel");
    // Where keylight keeps what outlives it (the blink table): the first folder of systemd's
    // RUNTIME_DIRECTORY; without it (started by hand) nothing is kept.
    QString runtimeDirectory =
        qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
};

class Server {
public:
    // Builds the FPGA object before anything else: the device is opened, the font loaded,
    // the worker started and the blackout of all screens queued as the first task.
    explicit Server(const ServerPaths& paths);
    // Destroys the connector with its clients, the dispatcher, the buttons and, last, the
    // FPGA object, which stops the worker.
    ~Server();

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Command line as QCoreApplication::arguments() gives it: program, map file (required,
    // not read), listen address (empty: every local address), port (default 3003; a text
    // that is no number from 0 to 65535 means port 0). Builds the buttons, the dispatcher and
    // the connector and starts listening, on the sockets systemd passed when it passed any;
    // a failure to listen is printed and the server goes on without clients until the
    // connector's retries succeed. Feeds systemd's watchdog when it watches. Returns false,
    // after its critical message, without a map file or when systemd passed a socket that
    // keylight cannot serve.
    bool start(const QStringList& arguments);

    // Ends the server without losing what its clients sent (SIGTERM): accepts no more
    // connections (those not accepted stay queued in a socket that systemd holds; keylight's
    // own socket is emptied and closed, see Connector::stopAccepting), reads what
    // the connections have sent until none has sent anything for a while, lets the worker
    // finish the queued hardware work, logs one line and ends the event loop with status 0.
    // After STOP_BOUND_MS it ends all the same and the line says what was left. Event loop
    // only; a second call changes nothing.
    void stop();
    // With FPGA::WORKER_STOP_BOUND for a worker held by the device, well below the stop
    // timeout of keylight's unit, so that the process is never killed.
    static constexpr qint64 STOP_BOUND_MS = 5000;

    // The port listened on; 0 before start() or when listening failed.
    quint16 listeningPort() const;

private:
    void checkStopped();

    QString _level_file;
    QString _runtime_directory;
    FPGA _fpga;
    OwnedButtons _buttons;
    ButtonMap _map;
    std::unique_ptr<ButtonSetterImpl> _setter;
    std::unique_ptr<Connector> _connector;
    std::unique_ptr<Watchdog> _watchdog;
    QTimer _stopping;  // runs from stop() until the event loop is told to end
    QElapsedTimer _stop_clock;
    QString _waiting_at_stop = QStringLiteral("no connection accepted since");
    qint64 _last_unread_ms = 0;  // when a connection last had unread bytes, on _stop_clock
};

}  // namespace keylight
