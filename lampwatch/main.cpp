#include "arguments.h"
#include "monitor.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <optional>

#include "panel.h"
#include "qtjournal.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    qt_messages_to_journal();
    QCoreApplication app(argc, argv);
    const std::optional<int> interval = lampwatch::pollInterval(QCoreApplication::arguments());
    if (!interval) {
        log_line(stderr, log_priority::err, lampwatch::USAGE, std::strlen(lampwatch::USAGE));
        return 2;
    }
    lampwatch::Monitor monitor(*interval);
    return QCoreApplication::exec();
}
