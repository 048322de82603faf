#include "fpga_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QThread>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace fpgatest {

namespace {

constexpr auto BOUND = std::chrono::seconds(10);
constexpr qint64 BOUND_MS = 10000;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    Record::instance().add(text.toStdString());
}

}  // namespace

Record& Record::instance() {
    static Record record;
    return record;
}

void Record::installMessageHandler() {
    qInstallMessageHandler(recordMessage);
}

void Record::add(const std::string& line) {
    {
        std::lock_guard<std::mutex> locker(mutex);
        entries.push_back(line);
    }
    changed.notify_all();
}

std::vector<std::string> Record::lines() const {
    std::lock_guard<std::mutex> locker(mutex);
    return entries;
}

int Record::find(const std::string& text, int from) const {
    std::lock_guard<std::mutex> locker(mutex);
    for (size_t i = static_cast<size_t>(from); i < entries.size(); ++i) {
        if (entries[i] == text)
            return static_cast<int>(i);
    }
    return -1;
}

int Record::findPrefix(const std::string& prefix, int from) const {
    std::lock_guard<std::mutex> locker(mutex);
    for (size_t i = static_cast<size_t>(from); i < entries.size(); ++i) {
        if (entries[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

bool Record::waitFor(const std::string& text, bool spin) const {
    if (spin) {
        return spinUntil([&] { return find(text) >= 0; });
    }
    std::unique_lock<std::mutex> locker(mutex);
    return changed.wait_for(locker, BOUND, [&] {
        for (const std::string& entry : entries) {
            if (entry == text)
                return true;
        }
        return false;
    });
}

void Record::clear() {
    std::lock_guard<std::mutex> locker(mutex);
    entries.clear();
}

Board::Board() : model([this](const std::string& line) { traced(line); }), device(model) {
    Record::instance().clear();
}

Board::~Board() {
    release();
}

void Board::traced(const std::string& line) {
    const std::string access = line.substr(line.find(' ') + 1);
    Record::instance().add("trace: " + access);
    std::unique_lock<std::mutex> locker(gateMutex);
    if (holdPrefix.empty() || access.compare(0, holdPrefix.size(), holdPrefix) != 0) {
        return;
    }
    holdPrefix.clear();
    held = true;
    gateChanged.notify_all();
    gateChanged.wait_for(locker, BOUND, [this] { return released; });
}

void Board::holdAt(const std::string& prefix) {
    std::lock_guard<std::mutex> locker(gateMutex);
    holdPrefix = prefix;
    held = false;
    released = false;
}

bool Board::waitUntilHeld() {
    std::unique_lock<std::mutex> locker(gateMutex);
    return gateChanged.wait_for(locker, BOUND, [this] { return held; });
}

void Board::release() {
    {
        std::lock_guard<std::mutex> locker(gateMutex);
        released = true;
    }
    gateChanged.notify_all();
}

Tree::Tree() {
    QDir root(dir.path());
    root.mkdir(QStringLiteral("fonts"));
    for (const char* name : {"8x13.pcf.gz", "8x16.pcf.gz"}) {
        QFile::link(QStringLiteral(PANEL_X11_FONT_DIR "/") + QLatin1String(name),
                    fontDir() + QLatin1Char('/') + QLatin1String(name));
    }
}

QString Tree::settingsPath() const {
    return dir.filePath(QStringLiteral("launcher.cfg"));
}
QString Tree::levelPath() const {
    return dir.filePath(QStringLiteral("buttonlevel"));
}
QString Tree::fontDir() const {
    return dir.filePath(QStringLiteral("fonts"));
}

std::string Tree::fontPath(int width, int height) const {
    return fontDir().toStdString() + "/" + std::to_string(width) + "x" + std::to_string(height) +
           ".pcf.gz";
}

void Tree::saveFont(int width, int height) const {
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("psu/redundant"), 1);
    settings.setValue(QStringLiteral("font/width"), width);
    settings.setValue(QStringLiteral("font/height"), height);
    settings.sync();
}

void Tree::writeLevels(const std::string& text) const {
    std::ofstream(levelPath().toStdString()) << text;
}

pid_t currentThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

bool waitUntilSleeping(pid_t tid) {
    const std::string statPath = "/proc/self/task/" + std::to_string(tid) + "/stat";
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < BOUND_MS) {
        std::ifstream stat(statPath);
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ...: comm may hold spaces, the state follows the last ')'.
        const size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') {
            return true;
        }
        QThread::msleep(1);
    }
    return false;
}

bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > BOUND_MS)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
    return true;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace fpgatest
