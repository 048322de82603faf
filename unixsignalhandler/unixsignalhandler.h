#pragma once

// Dispatches POSIX signals to plain functions that run on the thread of the Qt event loop.
//
// The process-level catcher only writes the signal number into a local socket pair; a socket
// notifier on the other end wakes the event loop, which calls the function registered for that
// signal. Registered functions therefore run outside signal context and may do anything.
//
// Create one UnixSignalHandler on the event-loop thread before installing handlers, then run
// the event loop. The registry is process-wide and unlocked: use it from that thread only.

#include <QObject>

class QSocketNotifier;

namespace unixsignalhandler {

// A registered function; it is not told which signal arrived (one function per signal).
using Handler = void (*)();

class UnixSignalHandler : public QObject {
    Q_OBJECT

public:
    // Creates the socket pair (ends the process with a fatal message when that fails), the
    // notifier on its read end, and empties the handler registry.
    explicit UnixSignalHandler(QObject* parent = nullptr);
    // Deletes the notifier and empties the registry. Dispositions stay as installed and the
    // socket pair stays open: a caught signal arriving later is read by nobody.
    ~UnixSignalHandler() override;

    // Catches signum and registers handler for it. False for 9 and 19 (they cannot be caught),
    // for a signal that already has a handler (which stays), and when sigaction refuses.
    static bool installHandler(int signum, Handler handler);
    // Restores the default disposition of signum and forgets its handler. False when signum
    // has no handler or sigaction refuses (the registration then stays).
    static bool removeHandler(int signum);

public slots:
    // Reads one signal number from the socket pair and calls its handler; driven by the
    // notifier, not meant to be called directly.
    void callSignalHandlers();

private:
    QSocketNotifier* _notifier;
};

}  // namespace unixsignalhandler
