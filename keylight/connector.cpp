#include "connector.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpSocket>

#include <utility>

#include "clientkeylight.h"

namespace keylight {

Connector::Connector(const QString& address, quint16 port, ButtonSetter* setter, FPGA* fpga)
    : _address(address), _port(port), _setter(setter), _fpga(fpga) {
    connect(&_server, &QTcpServer::newConnection, this, &Connector::newClient);
}

Connector::~Connector() { qDeleteAll(std::exchange(_clients, {})); }

bool Connector::listen() {
    const QHostAddress host =
        _address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(_address);
    return _server.listen(host, _port);
}

quint16 Connector::serverPort() const { return _server.serverPort(); }

void Connector::newClient() {
    while (_server.hasPendingConnections()) {
        QTcpSocket* socket = _server.nextPendingConnection();
        auto* client = new ClientKeylight(this, socket, _setter, _fpga);
        _clients.append(client);
        // A client object goes when its connection ends; only the pointer value is compared.
        connect(client, &QObject::destroyed, this, [this, client] { _clients.removeOne(client); });
        qDebug() << "keylight: new client" << client->descriptor();
    }
}

}  // namespace keylight
