#include <QCoreApplication>

#include <gtest/gtest.h>

// The Vacuum thread runs an event loop, which wants an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
