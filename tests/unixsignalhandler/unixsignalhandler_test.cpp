#include "unixsignalhandler.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

using unixsignalhandler::UnixSignalHandler;

namespace {

std::vector<int> calls;
QStringList messages;

void onUsr1() {
    calls.push_back(SIGUSR1);
}
void onUsr2() {
    calls.push_back(SIGUSR2);
}
void onHup() {
    calls.push_back(SIGHUP);
}

void collectMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    messages << text;
}

// Runs the event loop until n handler calls have been seen. The deadline only keeps a broken
// build from hanging; nothing is asserted about time.
void runEventLoopUntilCalls(std::size_t n) {
    QDeadlineTimer guard(10000);
    while (calls.size() < n && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void (*currentDisposition(int signum))(int) {
    struct sigaction action = {};
    sigaction(signum, nullptr, &action);
    return action.sa_handler;
}

const int usedSignals[] = {SIGUSR1, SIGUSR2, SIGHUP, 40};

class UnixSignalHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        messages.clear();
        previousHandler = qInstallMessageHandler(collectMessage);
    }
    void TearDown() override {
        qInstallMessageHandler(previousHandler);
        for (int signum : usedSignals)
            signal(signum, SIG_DFL);
    }

    QtMessageHandler previousHandler = nullptr;
};

TEST_F(UnixSignalHandlerTest, signals_raised_in_turn_reach_their_handlers_in_the_order_raised) {
    UnixSignalHandler handler;
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGUSR2, onUsr2));
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGUSR1, onUsr1));
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGHUP, onHup));

    raise(SIGUSR1);
    raise(SIGHUP);
    raise(SIGUSR2);
    raise(SIGUSR1);
    EXPECT_TRUE(calls.empty()) << "handlers must run from the event loop, not in signal context";

    runEventLoopUntilCalls(4);
    EXPECT_EQ(calls, (std::vector<int>{SIGUSR1, SIGHUP, SIGUSR2, SIGUSR1}));
}

TEST_F(UnixSignalHandlerTest, install_and_remove_report_each_step_with_a_space_after_every_piece) {
    UnixSignalHandler handler;
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGHUP, onHup));
    ASSERT_TRUE(UnixSignalHandler::removeHandler(SIGHUP));

    EXPECT_EQ(messages, (QStringList{
                            "Installing handler for  SIGHUP ",
                            "Installation of  SIGHUP  handler was successful ",
                            "Removing  SIGHUP  handler ",
                            "Removal of  SIGHUP  handler was successful ",
                        }));
}

TEST_F(UnixSignalHandlerTest,
       installing_catches_the_signal_with_restart_and_removing_restores_the_default) {
    UnixSignalHandler handler;
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGUSR1, onUsr1));
    struct sigaction installed = {};
    sigaction(SIGUSR1, nullptr, &installed);
    EXPECT_NE(installed.sa_handler, SIG_DFL);
    EXPECT_TRUE(installed.sa_flags & SA_RESTART);

    ASSERT_TRUE(UnixSignalHandler::removeHandler(SIGUSR1));
    EXPECT_EQ(currentDisposition(SIGUSR1), SIG_DFL);
    EXPECT_FALSE(UnixSignalHandler::removeHandler(SIGUSR1));
}

TEST_F(UnixSignalHandlerTest, refuses_to_catch_sigkill_and_sigstop) {
    UnixSignalHandler handler;
    EXPECT_FALSE(UnixSignalHandler::installHandler(SIGKILL, onUsr1));
    EXPECT_FALSE(UnixSignalHandler::installHandler(SIGSTOP, onUsr1));

    EXPECT_EQ(messages, (QStringList{
                            "ERROR:  SIGKILL  cannot be caught.  Not adding handler. ",
                            "ERROR:  SIGSTOP  cannot be caught.  Not adding handler. ",
                        }));
    messages.clear();
    EXPECT_FALSE(UnixSignalHandler::removeHandler(SIGKILL));
    EXPECT_FALSE(UnixSignalHandler::removeHandler(SIGSTOP));
    EXPECT_TRUE(messages.isEmpty()) << "nothing was registered for them";
}

TEST_F(UnixSignalHandlerTest,
       a_second_install_for_the_same_signal_is_refused_silently_and_keeps_the_first) {
    UnixSignalHandler handler;
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGUSR1, onUsr1));
    messages.clear();

    EXPECT_FALSE(UnixSignalHandler::installHandler(SIGUSR1, onUsr2));
    EXPECT_TRUE(messages.isEmpty());

    raise(SIGUSR1);
    runEventLoopUntilCalls(1);
    EXPECT_EQ(calls, std::vector<int>{SIGUSR1});
}

TEST_F(UnixSignalHandlerTest, removing_a_signal_without_handler_is_refused_silently) {
    UnixSignalHandler handler;
    EXPECT_FALSE(UnixSignalHandler::removeHandler(SIGUSR2));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(UnixSignalHandlerTest, signal_numbers_without_a_name_appear_with_an_empty_name) {
    UnixSignalHandler handler;
    ASSERT_TRUE(UnixSignalHandler::installHandler(40, onUsr1));
    EXPECT_FALSE(UnixSignalHandler::installHandler(200, onUsr1)) << "no such signal";

    EXPECT_EQ(messages, (QStringList{
                            "Installing handler for   ",
                            "Installation of    handler was successful ",
                            "Installing handler for   ",
                            "Failed to install handler for   ",
                        }));

    raise(40);
    runEventLoopUntilCalls(1);
    EXPECT_EQ(calls, std::vector<int>{SIGUSR1});
}

TEST_F(UnixSignalHandlerTest, a_signal_caught_after_the_registry_was_emptied_is_read_and_dropped) {
    {
        UnixSignalHandler first;
        ASSERT_TRUE(UnixSignalHandler::installHandler(SIGUSR1, onUsr1));
    }
    UnixSignalHandler second;
    ASSERT_TRUE(UnixSignalHandler::installHandler(SIGUSR2, onUsr2));

    raise(SIGUSR1);
    raise(SIGUSR2);
    runEventLoopUntilCalls(1);
    EXPECT_EQ(calls, std::vector<int>{SIGUSR2}) << "SIGUSR1 is still caught but has no handler";
}

}  // namespace
