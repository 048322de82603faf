// keylight: the server that owns the operator panel.
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qtjournal.h"
#include "server.h"
#include "unixsignalhandler.h"

namespace {

// The server that SIGTERM stops; the signal handler's functions take no arguments.
keylight::Server* running = nullptr;

}  // namespace

int main(int argc, char** argv) {
    // Standard output goes to the journal through a pipe: every line as soon as it is written.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    qt_messages_to_journal();
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::puts(
            "usage: keylight MAPFILE [ADDRESS [PORT]]  (empty ADDRESS: every local address;"
            " PORT default 3003)");
        return 0;
    }
    // Qt's own event dispatcher rather than the GLib one: a wake-up then costs a third less
    // CPU, without GLib's wake-up writes and reads and its source bookkeeping. Qt reads the
    // variable when it makes a thread's dispatcher, so it stays set for the worker thread too.
    setenv("QT_NO_GLIB", "1", 0);
    QCoreApplication app(argc, argv);
    keylight::Server server{keylight::ServerPaths{}};
    // systemd stops and restarts keylight with SIGTERM: what the clients sent is not lost.
    // Caught before start() tells systemd that keylight is ready, which may stop it at once;
    // the stop runs once the event loop does.
    unixsignalhandler::UnixSignalHandler signalHandler;
    running = &server;
    unixsignalhandler::UnixSignalHandler::installHandler(SIGTERM, [] { running->stop(); });
    if (!server.start(QCoreApplication::arguments())) {
        return 1;
    }
    return QCoreApplication::exec();
}
