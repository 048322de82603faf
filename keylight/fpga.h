// The panel hardware as the rest of keylight sees it: a queue of hardware tasks drained by one
// worker thread, and the TFT font that follows the launcher configuration.
//
// The queue is bounded for the connections that fill it: once the waiting tasks hold
// QUEUE_BUDGET bytes, a connection that has tasks waiting is not read again (acceptsWorkFrom)
// until queueDrained(), so TCP holds the rest in the peer's socket. Posting itself never
// refuses or waits.
//
// The event-loop thread posts; once the worker runs, only it calls the panel hardware library,
// which takes no locks of its own. The event loop never waits for the worker: a device that
// stops answering holds up the panel, not the clients' connections, timers and signals.
//
// A device that stops answering holds the worker in a register request. That is logged once
// when the worker has gone STALL_REPORTED without finishing a task, and once when it finishes
// one again.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "taskqueue.h"

namespace keylight {

class PanelPicture;
class WorkerThread;

class FPGA : public QObject {
    Q_OBJECT

public:
    // What the waiting tasks may hold, themselves and their text and image bytes, before the
    // connections adding to them are held back: some 3000 text lines, a second or two of
    // drawing.
    static constexpr size_t QUEUE_BUDGET = 256 * 1024;
    // Far longer than any task takes on a device that answers: a full-screen picture is one
    // burst of 16384 words.
    static constexpr std::chrono::seconds STALL_REPORTED{5};
    // Beyond this even a connection with no task waiting is held back: hundreds of
    // connections that each hand over a picture at once would otherwise queue them all.
    static constexpr size_t QUEUE_LIMIT = 2 * 1024 * 1024;
    // How long teardown waits for the worker to finish the task in progress. Short: at a stop
    // the server has waited for the queued work already.
    static constexpr std::chrono::seconds WORKER_STOP_BOUND{2};

    // While an object of this class lives, the work posted through fpga (null: none) is
    // connection tag's: it takes turns with other connections' work. Work posted outside any
    // (blink ticks, start-up) is the panel's own and goes first. Event-loop thread only.
    class Poster {
    public:
        Poster(FPGA* fpga, int tag);
        ~Poster();
        Poster(const Poster&) = delete;
        Poster& operator=(const Poster&) = delete;

    private:
        FPGA* _fpga;
        int _previous;
    };

    // Opens the register device (a device that does not open is named in one critical line,
    // with the remedy), keeps the picture of the panel in $RUNTIME_DIRECTORY when that is set,
    // loads the font that settings_path names (fonts are looked up in font_dir), starts
    // watching settings_path, starts the worker thread and posts its first task: drawing the
    // picture from before a restart back, or, without one, the blackout of all screens. The
    // program uses the defaults; tests point both paths at a temporary folder.
    explicit FPGA(const QString& settings_path = QStringLiteral("/etc/tesserax/launcher.cfg"),
                  const QString& font_dir = QStringLiteral("/opt/tesserax/fonts"));
    // Stops the worker after the task in progress; tasks still queued are destroyed unexecuted.
    // A worker still waiting for the device after WORKER_STOP_BOUND is left to the end of the
    // process, with one line saying so.
    ~FPGA() override;

    FPGA(const FPGA&) = delete;
    FPGA& operator=(const FPGA&) = delete;

    // Posting operations: each queues one task with copies of its arguments and returns at
    // once; tasks execute on the worker thread in posting order. Nothing reports back whether
    // the hardware action succeeded. Call them from the event-loop thread.

    // Line lineId of the screen: white on black when inverted, else black on white.
    // text is NUL-terminated and copied.
    void textLine(int screenId, int lineId, const char* text, bool inverted);
    // numChars characters of text into the cells offset.. of line lineId; colours 0xRRGGBB.
    // text is copied up to its NUL, so characters past it are drawn from padding NULs; the
    // task keeps no more characters than a line has cells, whatever numChars says.
    void subTextLine(int screenId, int lineId, int offset, int numChars, const char* text,
                     uint32_t textColour, uint32_t backColour);
    void setLEDButtonState(int ledIndex, int state);
    void setLEDStatusIndicator(int ledIndex, int state);
    void setLEDToggleIndicator(int index, int state);
    // Screen 0, 1, 2 or -1 for all three.
    void blackoutScreen(int screenId);
    // Copies the length bytes of the BMP file image at bmp: the caller may release them at once.
    void drawTFTImage(int screenId, int x, int y, const uint8_t* bmp, size_t length);
    // Backlight of all screens in percent; above 100 is refused by the library when it runs.
    void setTFTIntensity(int percent);

    // Whether connection tag may hand over more work now: while the waiting tasks hold less
    // than QUEUE_BUDGET, or while none of them is the connection's own and they hold less
    // than QUEUE_LIMIT.
    bool acceptsWorkFrom(int tag);
    // What the waiting tasks hold, themselves and their text and image bytes.
    size_t queuedBytes() const;

    // Hardware tasks waiting or executing. Any thread.
    size_t unfinishedTasks() const;
    // How long the worker has had work waiting or in progress without finishing a task;
    // zero while it is idle. Any thread.
    std::chrono::milliseconds stalledFor() const;
    // Whether the worker is inside a register request, waiting for the device. Any thread.
    static bool waitsForDevice();

signals:
    // The waiting tasks have drained to half of QUEUE_BUDGET after reaching it: a connection
    // that acceptsWorkFrom() turned down may be read again. Emitted on the event-loop thread.
    void queueDrained();

public slots:
    // Reads group "font" (width, height) of the settings file path and, when the size differs
    // from the one read last, queues the load of font_dir/WxH.pcf.gz for the worker, ahead of
    // the clients' work (at construction it loads at once).
    void check_font_settings(const QString& path);

private:
    friend class BlinkingLed;

    // Queues task for the current poster; cost is the bytes it holds.
    void post(std::unique_ptr<FPGATask> task, size_t cost);
    void watchSettingsAgain();
    void settingsDirectoryChanged();
    void checkStall();
    static void reportResumed(std::chrono::milliseconds stall);
    void announceDrained();
    void takeDrained();

    std::unique_ptr<PanelPicture> _picture;  // follows the worker's accesses; outlives it
    std::unique_ptr<WorkerThread> worker;
    // Apart from the object: a worker that teardown cannot wait for keeps it.
    std::unique_ptr<TaskQueue> queue = std::make_unique<TaskQueue>(
        QUEUE_BUDGET, QUEUE_LIMIT, [this] { announceDrained(); },
        [](std::chrono::milliseconds stall) { reportResumed(stall); });
    // The worker tells the event loop that the queue has drained through an event counter
    // rather than a queued signal: its write and read order the two threads for
    // ThreadSanitizer too, which cannot see the locks inside Qt's event queue.
    int _drained_fd;
    QSocketNotifier _drained;
    QTimer _stall_check;                    // runs while the worker has work
    int _poster = TaskQueue::PANEL_POSTER;  // whose work is being posted; event-loop thread only
    QString _settings_path;
    QString _font_dir;
    QFileSystemWatcher watcher;  // the settings file, and its folder to see it come back
    int fontWidth = 0;
    int fontHeight = 0;
};

}  // namespace keylight
