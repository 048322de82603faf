// keylight: the server that owns the operator panel.
#include <QCoreApplication>

#include <cstdio>

#include "server.h"

int main(int argc, char** argv) {
    // Standard output goes to the journal through a pipe: every line as soon as it is written.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    keylight::Server server{keylight::ServerPaths{}};
    if (!server.start(QCoreApplication::arguments())) {
        return 1;
    }
    return QCoreApplication::exec();
}
