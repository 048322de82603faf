// The server tests run in one Qt application whose messages are recorded for inspection.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>

#include "server_harness.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    servertest::QtLog::install();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
