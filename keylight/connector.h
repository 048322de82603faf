// The listening side of keylight: accepts TCP clients and gives each connection its own
// ClientKeylight.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

namespace keylight {

class ButtonSetter;
class ClientKeylight;
class FPGA;

class Connector : public QObject {
    Q_OBJECT

public:
    // An empty address listens on every local address. setter and fpga are not owned; the
    // clients post their work through fpga, which holds them back when its queue is full
    // (without one nothing does).
    Connector(const QString& address, quint16 port, ButtonSetter* setter, FPGA* fpga = nullptr);
    // Destroys the client objects before the server, so that a client still connected closes
    // its socket before the server deletes the sockets it holds.
    ~Connector() override;

    // Starts listening; false when the address or port cannot be used.
    bool listen();
    // The port listened on (the one the system chose when asked for port 0).
    quint16 serverPort() const;

public slots:
    void newClient();

private:
    QString _address;
    quint16 _port;
    ButtonSetter* _setter;
    FPGA* _fpga;
    QTcpServer _server;
    QList<ClientKeylight*> _clients;  // the connections still open, in order of acceptance
};

}  // namespace keylight
