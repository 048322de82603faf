#include "server.h"

#include <QDebug>

#include <cstdio>

#include "buttonsetterimpl.h"
#include "connector.h"
#include "panel.h"
#include "panelmapbuilder.h"

namespace keylight {

namespace {

constexpr quint16 DEFAULT_PORT = 3003;

}  // namespace

Server::Server(const ServerPaths& paths)
    : _level_file(paths.levelFile), _fpga(paths.settingsFile, paths.fontDirectory) {}

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

    _connector = std::make_unique<Connector>(address, port, _setter.get(), &_fpga);
    if (!_connector->listen()) {
        log_puts(log_priority::err, "keylight:failed to start server");
    }
    return true;
}

quint16 Server::listeningPort() const {
    return _connector ? _connector->serverPort() : 0;
}

}  // namespace keylight
