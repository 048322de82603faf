// The objects of the keylight program, built in start-up order and torn down in reverse.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "buttonmap.h"
#include "fpga.h"

namespace keylight {

class ButtonSetterImpl;
class Connector;

// The files keylight reads. The program uses the defaults; tests use a temporary folder.
struct ServerPaths {
    QString settingsFile = QStringLiteral("/etc/tesserax/launcher.cfg");
    QString fontDirectory = QStringLiteral("/opt/tesserax/fonts");
    QString levelFile = QStringLiteral("/etc/tesserax/buttonlevel");
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
    // the connector and starts listening; a failure to listen is printed and the server goes
    // on without clients until the connector's retries succeed. Returns false, after its
    // critical message, without a map file.
    bool start(const QStringList& arguments);

    // The port listened on; 0 before start() or when listening failed.
    quint16 listeningPort() const;

private:
    QString _level_file;
    FPGA _fpga;
    OwnedButtons _buttons;
    ButtonMap _map;
    std::unique_ptr<ButtonSetterImpl> _setter;
    std::unique_ptr<Connector> _connector;
};

}  // namespace keylight
