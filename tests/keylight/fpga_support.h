// What the FPGA object's tests share: a board (the FPGA model behind the in-process device)
// whose trace and log lines land in one ordered record, a worker gate that holds a task in
// the middle of its register traffic, and a temporary /etc + fonts tree.
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fpgamodel.h"
#include "inprocessdevice.h"

namespace fpgatest {

// Every trace line (without its connection number) and every Qt message, in the order they
// happened, whichever thread they came from. Trace lines start with "trace: ".
class Record {
public:
    static Record& instance();
    // Routes Qt messages here (call once, from main).
    static void installMessageHandler();

    void add(const std::string& line);
    std::vector<std::string> lines() const;
    // Index of the first line at or after from that equals text, or -1.
    int find(const std::string& text, int from = 0) const;
    // Index of the first line at or after from that starts with prefix, or -1.
    int findPrefix(const std::string& prefix, int from = 0) const;
    // Waits (bounded, 10 s) until a line equal to text is recorded; false when none came.
    // Keeps the Qt event loop of the calling thread running when spin is true.
    bool waitFor(const std::string& text, bool spin = false) const;
    void clear();

private:
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> entries;
};

// A fresh board per test; the hardware library talks to it while this lives.
class Board {
public:
    Board();
    ~Board();

    panelsim::FpgaModel& fpgaModel() { return model; }

    // The next trace line that starts with prefix (after the connection number) holds the
    // worker inside that register access until release(). Waits there at most 10 s.
    void holdAt(const std::string& prefix);
    // Waits (bounded) until the worker is held; false when it never got there.
    bool waitUntilHeld();
    void release();

private:
    void traced(const std::string& line);

    std::mutex gateMutex;
    std::condition_variable gateChanged;
    std::string holdPrefix;
    bool held = false;
    bool released = false;
    panelsim::FpgaModel model;
    panelsim::InProcessDevice device;
};

// A temporary folder with launcher.cfg, buttonlevel and fonts/ holding the X11 misc-fixed
// fonts 8x13 and 8x16 (symbolic links).
class Tree {
public:
    Tree();
    QString settingsPath() const;
    QString levelPath() const;
    QString fontDir() const;
    std::string fontPath(int width, int height) const;
    // Saves group "font" the way the launcher does (QSettings: a new file renamed over).
    void saveFont(int width, int height) const;
    void writeLevels(const std::string& text) const;

private:
    QTemporaryDir dir;
};

// Waits (bounded, 10 s) until the thread tid sleeps in the kernel, as it does while blocked on
// a lock; false when it never did.
bool waitUntilSleeping(pid_t tid);
pid_t currentThreadId();

// Runs the Qt event loop of this thread until done() holds, at most 10 s.
bool spinUntil(const std::function<bool()>& done);

// What a user sees in debug output for a QString item: the text in double quotes.
std::string quoted(const std::string& text);

}  // namespace fpgatest
