#include "arguments.h"
#include "monitor.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    lampwatch::Monitor monitor(lampwatch::pollInterval(QCoreApplication::arguments()));
    return QCoreApplication::exec();
}
