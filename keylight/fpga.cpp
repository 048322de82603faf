#include "fpga.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <grp.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "blackoutscreentask.h"
#include "drawtftimagetask.h"
#include "ledtasks.h"
#include "panel.h"
#include "panelpicture.h"
#include "restorescreenstask.h"
#include "settftintensitytask.h"
#include "subtextlinetask.h"
#include "textlinetask.h"
#include "workerthread.h"

namespace keylight {

namespace {

const char* const DEVICE = "/dev/fpga-reg";
constexpr std::chrono::seconds STALL_CHECK_INTERVAL{1};

// A list as the log has always shown it: ("a", "b"), whatever the Qt version prints.
QString quotedList(const QStringList& items) {
    QStringList quoted;
    for (const QString& item : items) {
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    }
    return QLatin1Char('(') + quoted.join(QStringLiteral(", ")) + QLatin1Char(')');
}

// The name of the group this process runs as, the one the device must grant access to.
QString processGroup() {
    const group* entry = getgrgid(getegid());
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(getegid());
}

// One line that says why the register device is not open and what brings it back; the hardware
// library itself stays silent about it.
void reportClosedDevice(int error) {
    if (error == ENOENT) {
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: register device \"%1\" is missing, nothing reaches "
                   "the panel: load the "
                   "FPGA driver, then systemctl restart panelprime keylight lampwatch")
                   .arg(DEVICE);
    } else if (error == EACCES || error == EPERM) {
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: no read-write access to register device \"%1\" (%2): it must be "
                   "read-write for group \"%3\" (udevadm trigger applies the package's device "
                   "rule), "
                   "then systemctl restart panelprime keylight lampwatch")
                   .arg(DEVICE, QString::fromLocal8Bit(strerror(error)), processGroup());
    } else {
        qCritical().noquote() << QStringLiteral(
                                     "keylight: register device \"%1\" cannot be opened (%2), "
                                     "nothing reaches the panel")
                                     .arg(DEVICE, QString::fromLocal8Bit(strerror(error)));
    }
}

// Why a settings file could not be read, and what to do about it.
void reportUnreadableSettings(const QString& path, QSettings::Status status) {
    if (status == QSettings::FormatError) {
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: settings file \"%1\" is not an INI file: correct it, for example "
                   "[font] with width=8 and height=13")
                   .arg(path);
    } else {
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: settings file \"%1\" cannot be read: make it readable for keylight's "
                   "user (chmod 644)")
                   .arg(path);
    }
}

// Loads fontPath for [font] width x height of settingsPath, with its log lines. On the
// worker once keylight runs, between two tasks: no line is ever drawn with half a face.
void loadFont(const QString& fontPath, int width, int height, const QString& settingsPath,
              const QString& fontDir) {
    qInfo() << "keylight: Loading font '" << fontPath << "' from configuration file.";
    if (tft_load_font(fontPath.toLatin1().constData()) != -1) {
        qInfo() << "keylight: Successfully changed to font" << fontPath;
        return;
    }
    qCritical() << "Error loading font '" << fontPath << "' from configuration file.";
    if (!QFileInfo::exists(fontPath)) {
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: no font file \"%1\" for [font] width=%2 height=%3 of \"%4\": set "
                   "a size that has a file in \"%5\"")
                   .arg(fontPath)
                   .arg(width)
                   .arg(height)
                   .arg(settingsPath, fontDir);
    }
}

// What teardown could not wait for: a worker still in a device request and the queue it
// returns to. Kept, reachable, to the end of the process.
struct Abandoned {
    std::unique_ptr<WorkerThread> worker;
    std::unique_ptr<TaskQueue> queue;
};
std::vector<Abandoned>* const abandoned = new std::vector<Abandoned>;

class LoadFontTask : public FPGATask {
public:
    LoadFontTask(QString fontPath, int width, int height, QString settingsPath, QString fontDir)
        : _font_path(std::move(fontPath)),
          _width(width),
          _height(height),
          _settings_path(std::move(settingsPath)),
          _font_dir(std::move(fontDir)) {}
    void execute() override { loadFont(_font_path, _width, _height, _settings_path, _font_dir); }

private:
    QString _font_path;
    int _width;
    int _height;
    QString _settings_path;
    QString _font_dir;
};

}  // namespace

FPGA::FPGA(const QString& settings_path, const QString& font_dir)
    : _drained_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      _drained(_drained_fd, QSocketNotifier::Read),
      _settings_path(settings_path),
      _font_dir(font_dir),
      watcher(QStringList{settings_path}) {
    const QString settingsFolder = QFileInfo(_settings_path).absolutePath();
    if (QFileInfo(settingsFolder).isDir()) {
        watcher.addPath(settingsFolder);
    }
    panel_open();
    if (fpga_fd < 0) {
        reportClosedDevice(errno);
    }
    _picture = PanelPicture::open(qEnvironmentVariable("RUNTIME_DIRECTORY"));
    check_font_settings(_settings_path);
    qInfo().noquote() << "Files being watched:" << quotedList(watcher.files());

    // Saving the settings replaces the file (write a copy, rename it over), and the watch of
    // the old file ends with it; the new file is watched again before it is read, or every
    // change after the first would go unseen.
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &FPGA::watchSettingsAgain);
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &FPGA::check_font_settings);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &FPGA::settingsDirectoryChanged);
    _stall_check.setInterval(STALL_CHECK_INTERVAL);
    connect(&_stall_check, &QTimer::timeout, this, &FPGA::checkStall);
    connect(&_drained, &QSocketNotifier::activated, this, &FPGA::takeDrained);

    worker = std::make_unique<WorkerThread>(*queue);
    worker->start();
    if (_picture && _picture->hadPicture()) {
        post(std::make_unique<RestoreScreensTask>(*_picture), sizeof(RestoreScreensTask));
    } else {
        blackoutScreen(-1);
    }
}

// The members then go in reverse order: the queue, whose destructor takes its lock and so
// orders all the worker did before the worker's deletion, goes before the worker.
FPGA::~FPGA() {
    queue->stop();
    if (!worker->wait(QDeadlineTimer(WORKER_STOP_BOUND))) {
        // A device that does not answer holds the worker in its request, and nothing ends
        // that request from here. The process is ending: the worker and the queue it may
        // still return to are left to the end of the process.
        const QString held =
            waitsForDevice()
                ? QStringLiteral("is still waiting for register device \"%1\"").arg(DEVICE)
                : QStringLiteral("has not finished its task");
        qWarning().noquote()
            << QStringLiteral("keylight: the worker %1 after %2 s: %3 hardware tasks left undone")
                   .arg(held)
                   .arg(WORKER_STOP_BOUND.count())
                   .arg(queue->unfinished());
        abandoned->push_back({std::move(worker), std::move(queue)});
    }
    // The next program on the device (keylight restarted) must find it ready.
    led_gap_wait();
    _drained.setEnabled(false);
    close(_drained_fd);
}

void FPGA::textLine(int screenId, int lineId, const char* text, bool inverted) {
    std::string copy(text);
    const size_t cost = sizeof(TextLineTask) + copy.size();
    post(std::make_unique<TextLineTask>(screenId, lineId, std::move(copy), inverted), cost);
}

void FPGA::subTextLine(int screenId, int lineId, int offset, int numChars, const char* text,
                       uint32_t textColour, uint32_t backColour) {
    std::string copy(text);
    const size_t cost = sizeof(SubTextLineTask) + copy.size();
    post(std::make_unique<SubTextLineTask>(screenId, lineId, offset, numChars, std::move(copy),
                                           textColour, backColour),
         cost);
}

void FPGA::setLEDButtonState(int ledIndex, int state) {
    post(std::make_unique<SetLEDButtonStateTask>(ledIndex, state), sizeof(SetLEDButtonStateTask));
}

void FPGA::setLEDStatusIndicator(int ledIndex, int state) {
    post(std::make_unique<SetLEDStatusIndicatorTask>(ledIndex, state),
         sizeof(SetLEDStatusIndicatorTask));
}

void FPGA::setLEDToggleIndicator(int index, int state) {
    post(std::make_unique<SetLEDToggleIndicatorTask>(index, state),
         sizeof(SetLEDToggleIndicatorTask));
}

void FPGA::blackoutScreen(int screenId) {
    post(std::make_unique<BlackoutScreenTask>(screenId), sizeof(BlackoutScreenTask));
}

void FPGA::drawTFTImage(int screenId, int x, int y, const uint8_t* bmp, size_t length) {
    post(
        std::make_unique<DrawTFTImageTask>(screenId, x, y, std::vector<uint8_t>(bmp, bmp + length)),
        sizeof(DrawTFTImageTask) + length);
}

void FPGA::setTFTIntensity(int percent) {
    post(std::make_unique<SetTFTIntensityTask>(percent), sizeof(SetTFTIntensityTask));
}

bool FPGA::acceptsWorkFrom(int tag) {
    return queue->accepts(tag);
}

size_t FPGA::unfinishedTasks() const {
    return queue->unfinished();
}

std::chrono::milliseconds FPGA::stalledFor() const {
    return queue->stalledFor();
}

bool FPGA::waitsForDevice() {
    return panel_request_in_progress();
}

size_t FPGA::queuedBytes() const {
    return queue->cost();
}

FPGA::Poster::Poster(FPGA* fpga, int tag) : _fpga(fpga), _previous(TaskQueue::PANEL_POSTER) {
    if (_fpga != nullptr) {
        _previous = std::exchange(_fpga->_poster, tag);
    }
}

FPGA::Poster::~Poster() {
    if (_fpga != nullptr) {
        _fpga->_poster = _previous;
    }
}

void FPGA::post(std::unique_ptr<FPGATask> task, size_t cost) {
    queue->post(_poster, std::move(task), cost);
    if (!_stall_check.isActive()) {
        _stall_check.start();
    }
}

// Worker thread.
void FPGA::announceDrained() {
    const uint64_t one = 1;
    // Only a counter at its limit refuses the write, and then an announcement is pending anyway.
    const ssize_t written = write(_drained_fd, &one, sizeof one);
    static_cast<void>(written);
}

void FPGA::takeDrained() {
    uint64_t count = 0;
    if (read(_drained_fd, &count, sizeof count) == sizeof count) {
        emit queueDrained();
    }
}

void FPGA::checkStall() {
    if (queue->stalledFor() == std::chrono::milliseconds{0}) {
        _stall_check.stop();
    } else if (queue->stallBegins(STALL_REPORTED)) {
        qWarning().noquote() << QStringLiteral(
                                    "keylight: register device \"%1\" has not answered for %2 s, "
                                    "the panel shows nothing new until it does")
                                    .arg(DEVICE)
                                    .arg(STALL_REPORTED.count());
    }
}

void FPGA::reportResumed(std::chrono::milliseconds stall) {
    qInfo().noquote() << QStringLiteral("keylight: register device \"%1\" answers again after %2 s")
                             .arg(DEVICE)
                             .arg(static_cast<double>(stall.count()) / 1000.0, 0, 'f', 1);
}

void FPGA::check_font_settings(const QString& path) {
    qInfo() << "File change in" << path << " occurred.";
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        qCritical() << "Error accessing '" << path << "' for reading";
        reportUnreadableSettings(path, settings.status());
        return;
    }
    // QSettings reads a missing file as an empty one: no font, and text lines stay blank.
    if (!QFileInfo::exists(path)) {
        qCritical().noquote()
            << QStringLiteral(
                   "keylight: settings file \"%1\" is missing, text lines stay blank: write [font] "
                   "with width=8 and height=13 into it")
                   .arg(path);
    }
    settings.beginGroup(QStringLiteral("font"));
    const int width = settings.value(QStringLiteral("width"), 0).toInt();
    const int height = settings.value(QStringLiteral("height"), 0).toInt();
    if (width == fontWidth && height == fontHeight) {
        return;
    }
    // Stored before the load is tried: a font that fails is not tried again until the
    // size changes.
    fontWidth = width;
    fontHeight = height;
    const QString fontPath =
        QStringLiteral("%1/%2x%3.pcf.gz").arg(_font_dir).arg(width).arg(height);

    if (!worker) {
        loadFont(fontPath, width, height, path, _font_dir);
        return;
    }
    // Loaded by the worker after the task it is executing, which may wait for the device for
    // good: the event loop goes on meanwhile, and the font takes effect once the device
    // answers. In the panel's lane, ahead of the lines the clients have queued.
    const Poster panel(this, TaskQueue::PANEL_POSTER);
    post(std::make_unique<LoadFontTask>(fontPath, width, height, path, _font_dir),
         sizeof(LoadFontTask));
}

void FPGA::watchSettingsAgain() {
    if (!watcher.files().contains(_settings_path) && QFileInfo::exists(_settings_path)) {
        watcher.addPath(_settings_path);
    }
}

// A settings file that was deleted and later created again is seen only through its folder.
void FPGA::settingsDirectoryChanged() {
    if (!watcher.files().contains(_settings_path) && QFileInfo::exists(_settings_path)) {
        watcher.addPath(_settings_path);
        check_font_settings(_settings_path);
    }
}

}  // namespace keylight
