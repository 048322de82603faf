#include "arguments.h"
#include "monitor.h"

#include <QCoreApplication>

#include <cstdio>
#include <optional>

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const std::optional<int> interval = lampwatch::pollInterval(QCoreApplication::arguments());
    if (!interval) {
        std::fprintf(stderr, "%s\n", lampwatch::USAGE);
        return 2;
    }
    lampwatch::Monitor monitor(*interval);
    return QCoreApplication::exec();
}
