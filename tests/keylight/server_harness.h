// What the keylight server tests share: the FPGA model behind a real FPGA object, the log
// lines and standard output the server writes, TCP clients built on the protocol records.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fpga.h"
#include "fpgamodel.h"
#include "inprocessdevice.h"

namespace servertest {

// Every Qt message the process emits, in order; installed by the tests' main.
class QtLog {
public:
    static void install();
    static void clear();
    static QStringList lines();
    // Index of the first line equal to text at or after from, or -1.
    static int indexOf(const QString& text, int from = 0);
    static bool contains(const QString& text);
    // How many lines begin with start.
    static int countStartingWith(const QString& start);
};

// Standard output of the process from construction until finish() (file descriptor 1
// redirected), so that test failures reported after finish() are seen again.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // Restores standard output and returns everything written to it meanwhile.
    std::string finish();

private:
    int _saved = -1;
    std::string _path;
};

// Trace lines of the model without their connection number ("W 0900 6300"), thread-safe.
class TraceLog {
public:
    void add(const std::string& line);
    std::vector<std::string> lines() const;
    // Waits (bounded, as a safety net only) until count lines equal to line have been seen.
    bool waitForCount(const std::string& line, size_t count);
    size_t count(const std::string& line) const;
    // The lines after the first seen ones; seen becomes the number of lines so far.
    std::vector<std::string> linesAfter(size_t& seen) const;

private:
    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<std::string> _lines;
};

// Holds the thread that makes a register access while closed.
class Gate {
public:
    void close();
    void open();
    // Returns at once while open; waits (bounded, as a safety net only) while closed.
    void pass();

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _closed = false;
};

// A board, the device seam routed to it, a temporary folder for the files keylight reads
// and the FPGA object with its worker, built in that order.
class Panel {
public:
    // launcherCfg is written to the folder as launcher.cfg before the FPGA object reads it;
    // fonts are looked up in the X11 misc-fixed folder.
    explicit Panel(const QString& launcherCfg = QString());
    ~Panel();

    // Returns once every task posted before has executed.
    void drain();
    // The worker stops at its next register access until releaseWorker().
    void holdWorker();
    void releaseWorker();
    // Button LED writes since the last call: 'L' lit or 'D' dark for LED index, as "L3".
    std::vector<std::string> takeButtonLedWrites();

    QString path(const QString& name) const;
    void writeFile(const QString& name, const QByteArray& content) const;

    TraceLog trace;
    Gate gate;
    panelsim::FpgaModel model;
    panelsim::InProcessDevice device;
    QTemporaryDir dir;
    std::unique_ptr<keylight::FPGA> fpga;

private:
    size_t _drains = 0;
    size_t _seen = 0;
};

// Stands in for systemd's notification socket (NOTIFY_SOCKET) while it lives.
class NotifySocket {
public:
    NotifySocket();
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // The messages that have arrived since the last call, one per datagram.
    QStringList messages();

private:
    QTemporaryDir _folder;
    int _descriptor = -1;
};

// Runs the event loop until done() holds (bounded, as a safety net only).
bool processUntil(const std::function<bool()>& done);
// Delivers pending deferred deletions.
void deliverDeferredDeletes();

// A frame: the 4-byte big-endian length and the record.
QByteArray frame(const QByteArray& record);
// Records in network order, as a client sends them.
QByteArray ledButtonStateRecord(int32_t buttonId, int32_t state, int32_t time);
QByteArray queryRecord();
QByteArray typeOnlyRecord(uint32_t type);
QByteArray nullRecord(const QByteArray& payload);
QByteArray textLineRecord(int32_t screenId, int32_t lineId, bool inverted, const QByteArray& text);
QByteArray subTextLineRecord(int32_t screenId, int32_t lineId, int32_t offset, int32_t numChars,
                             uint32_t textColour, uint32_t backColour, const QByteArray& text);
QByteArray blackoutScreenRecord(int32_t screenId);
QByteArray drawImageRecord(int32_t screenId, int32_t x, int32_t y, const QByteArray& bmp);
QByteArray uploadImageRecord(int32_t imageId, int32_t size, uint8_t fill);
QByteArray reconfigureRecord();
QByteArray statusIndicatorRecord(int32_t id, int32_t state);
QByteArray toggleIndicatorRecord(int32_t id, int32_t state);
// A 24-bit BMP file image of width x height pixels, all of colour 0xRRGGBB.
QByteArray solidBmp(int width, int height, uint32_t rgb);

// A client connection to a server on the loopback address.
class Client {
public:
    explicit Client(quint16 port);
    void send(const QByteArray& bytes);
    // Runs the event loop until count bytes have arrived, and returns them all.
    QByteArray receive(qint64 count);
    QTcpSocket socket;
};

}  // namespace servertest
