// The listening side of keylight: accepts TCP clients and gives each connection its own
// ClientKeylight.
#pragma once

#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <cstddef>
#include <memory>
#include <vector>

#include "framebudget.h"

namespace keylight {

class ButtonSetter;
class ClientKeylight;
class FPGA;

class Connector : public QObject {
    Q_OBJECT

public:
    // An empty address listens on every local address. setter and fpga are not owned; the
    // clients post their work through fpga, which holds them back when its queue is full
    // (without one nothing does). Their large frames share frameBudget bytes with that work.
    Connector(const QString& address, quint16 port, ButtonSetter* setter, FPGA* fpga = nullptr,
              size_t frameBudget = FrameBudget::PROCESS_BUDGET);
    // Destroys the client objects before the server, so that a client still connected closes
    // its socket before the server deletes the sockets it holds.
    ~Connector() override;

    // Starts listening, with the longest listen queue the system allows, logs the address and
    // port and tells systemd that keylight is ready. False when the address or port cannot be
    // used: the reason is logged and told as keylight's status, and listening is tried again
    // every 2 s until it succeeds, which is logged once. inherited, the listening TCP sockets
    // handed over by systemd, are used instead of the address and port given to the
    // constructor: every one is served, each logged with its own address and port.
    bool listen(const std::vector<int>& inherited = {});
    // Accepts no more connections. Those that have not been accepted yet stay in the listen
    // queue of a socket that systemd holds, for the next keylight. keylight's own socket,
    // which ends with keylight, is emptied first (its connections are accepted and served
    // like the others) and closed, so that later connections are refused rather than reset.
    // Returns what became of the connections waiting, for the stop's line.
    QString stopAccepting();
    // The connections that have sent something that has not been read and handed on yet.
    int connectionsWithUnreadBytes() const;
    // The port listened on (the one the system chose when asked for port 0; the first socket's
    // of those handed over); 0 while not listening.
    quint16 serverPort() const;

private:
    // A listening socket, where it listens, and the notifier that watches it for connections.
    struct Listener {
        int descriptor;
        QString address;
        quint16 port;
        std::unique_ptr<QSocketNotifier> incoming;
    };

    // Accepts every connection waiting in the listen queue of descriptor; false when
    // accepting failed for all of them and paused. When the process is out of descriptors (or
    // the system out of memory for sockets), accepting pauses for 250 ms and then resumes,
    // with one log line for the whole episode; the clients already connected are served
    // meanwhile.
    bool newClient(int descriptor);
    bool tryListen();
    // Watches descriptor, a listening socket, and logs it with address; a null address is
    // the one the socket is bound to.
    const Listener& addListener(int descriptor, const QString& address = QString());
    void retryListen();
    void pauseAccepting(int error);
    void resumeAccepting();
    // How the log names the address listened on.
    QString addressText() const;

    QString _address;
    quint16 _port;
    bool _inherited = false;
    ButtonSetter* _setter;
    FPGA* _fpga;
    FrameBudget _frames;  // outlives the clients, which the destructor deletes first
    QTcpServer _server;   // keylight's own listening socket; parent of every connection's socket
    QList<ClientKeylight*> _clients;  // the connections still open, in order of acceptance
    // The sockets listened on; their notifiers go before the server closes its own.
    std::vector<Listener> _listeners;
    QTimer _listen_retry;
    QTimer _accept_retry;
    bool _accept_failing = false;  // from a failed accept until the next accepted connection
};

}  // namespace keylight
