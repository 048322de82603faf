#include "unixsignalhandler.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QtGlobal>

#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <map>

namespace unixsignalhandler {

namespace {

// [0] is written in signal context, [1] is watched by the notifier.
int signalsFd[2] = {-1, -1};

std::map<int, Handler> handlers;

// Numbers as Linux on ARM has them. A number missing here gets an empty name on first use.
std::map<int, QByteArray> signalNames = {
    {1, "SIGHUP"},     {2, "SIGINT"},   {3, "SIGQUIT"},   {4, "SIGILL"},   {5, "SIGTRAP"},
    {6, "SIGABRT"},    {7, "SIGBUS"},   {8, "SIGFPE"},    {9, "SIGKILL"},  {10, "SIGUSR1"},
    {11, "SIGSEGV"},   {12, "SIGUSR2"}, {13, "SIGPIPE"},  {14, "SIGALRM"}, {15, "SIGTERM"},
    {16, "SIGSTKFLT"}, {17, "SIGCHLD"}, {18, "SIGCONT"},  {19, "SIGSTOP"}, {20, "SIGTSTP"},
    {21, "SIGTTIN"},   {22, "SIGTTOU"}, {23, "SIGURG"},   {24, "SIGXCPU"}, {25, "SIGXFSZ"},
    {26, "SIGVTALRM"}, {27, "SIGPROF"}, {28, "SIGWINCH"}, {29, "SIGIO"},   {30, "SIGPWR"},
    {31, "SIGSYS"},
};

const QByteArray& signalName(int signum) {
    return signalNames[signum];
}

// Each piece is followed by one space, so pieces that already end in a space come out doubled;
// the log readers know the lines in exactly this shape.
void debugMessage(std::initializer_list<QByteArray> pieces) {
    QByteArray text;
    for (const QByteArray& piece : pieces) {
        text += piece;
        text += ' ';
    }
    qDebug("%s", text.constData());
}

// Runs in signal context: one write and nothing else that is not async-signal-safe. errno is
// put back so that the interrupted code does not see the write's result.
void writeSignalNumber(int signum) {
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t written = ::write(signalsFd[0], &signum, sizeof signum);
    errno = savedErrno;
}

int setDisposition(int signum, void (*disposition)(int)) {
    struct sigaction action = {};
    action.sa_handler = disposition;
    sigemptyset(&action.sa_mask);
    action.sa_flags = disposition == SIG_DFL ? 0 : SA_RESTART;
    return sigaction(signum, &action, nullptr);
}

}  // namespace

UnixSignalHandler::UnixSignalHandler(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalsFd) != 0)
        qFatal("Couldn't create signalsFd socketpair");
    _notifier = new QSocketNotifier(signalsFd[1], QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &UnixSignalHandler::callSignalHandlers);
    handlers.clear();
}

UnixSignalHandler::~UnixSignalHandler() {
    delete _notifier;
    handlers.clear();
}

bool UnixSignalHandler::installHandler(int signum, Handler handler) {
    if (signum == SIGKILL || signum == SIGSTOP) {
        debugMessage({"ERROR: ", signalName(signum), " cannot be caught.", " Not adding handler."});
        return false;
    }
    if (handlers.count(signum) != 0)
        return false;

    debugMessage({"Installing handler for ", signalName(signum)});
    if (setDisposition(signum, writeSignalNumber) < 0) {
        debugMessage({"Failed to install handler for ", signalName(signum)});
        return false;
    }
    debugMessage({"Installation of ", signalName(signum), " handler was successful"});
    handlers[signum] = handler;
    return true;
}

bool UnixSignalHandler::removeHandler(int signum) {
    if (handlers.count(signum) == 0)
        return false;

    debugMessage({"Removing ", signalName(signum), " handler"});
    if (setDisposition(signum, SIG_DFL) < 0) {
        debugMessage({"Failed to remove handler for ", signalName(signum)});
        return false;
    }
    debugMessage({"Removal of ", signalName(signum), " handler was successful"});
    handlers.erase(signum);
    return true;
}

void UnixSignalHandler::callSignalHandlers() {
    _notifier->setEnabled(false);
    // One number per activation; numbers still waiting make the notifier fire again. A short
    // or failed read carries no number, so nothing is called for it.
    int signum = 0;
    if (::read(signalsFd[1], &signum, sizeof signum) == static_cast<ssize_t>(sizeof signum)) {
        const auto registered = handlers.find(signum);
        if (registered != handlers.end()) {
            const Handler handler = registered->second;
            handler();
        }
    }
    _notifier->setEnabled(true);
}

}  // namespace unixsignalhandler
