// The FPGA object's tests run inside one Qt application (the settings watcher needs its event
// loop); Qt messages are recorded beside the board's trace.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>

#include "fpga_support.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    fpgatest::Record::installMessageHandler();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
