#include "server_harness.h"

#include "panel.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QFile>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QtEndian>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "klm.h"
#include "klmframe.h"

namespace servertest {

namespace {

// Waits are safety nets against a hang, never a measure of speed.
constexpr int PATIENCE_MS = 20000;

QMutex logMutex;
QStringList logLines;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    QMutexLocker locker(&logMutex);
    logLines.append(message);
}

// The marker task that drain() posts: status indicator 31 switched off.
const std::string DRAIN_MARKER = "W 0900 9F00";

QByteArray bytesOf(const std::vector<uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

void appendLittle(QByteArray& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

void QtLog::install() {
    qInstallMessageHandler(recordMessage);
}

void QtLog::clear() {
    QMutexLocker locker(&logMutex);
    logLines.clear();
}

QStringList QtLog::lines() {
    QMutexLocker locker(&logMutex);
    return logLines;
}

int QtLog::indexOf(const QString& text, int from) {
    QMutexLocker locker(&logMutex);
    return static_cast<int>(logLines.indexOf(text, from));
}

bool QtLog::contains(const QString& text) {
    return indexOf(text) >= 0;
}

int QtLog::countStartingWith(const QString& start) {
    const QStringList all = lines();
    return static_cast<int>(std::count_if(
        all.begin(), all.end(), [&](const QString& line) { return line.startsWith(start); }));
}

StdoutCapture::StdoutCapture() {
    char name[] = "/tmp/keylight-stdout-XXXXXX";
    const int fd = mkstemp(name);
    _path = name;
    fflush(stdout);
    _saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

StdoutCapture::~StdoutCapture() {
    finish();
    unlink(_path.c_str());
}

std::string StdoutCapture::finish() {
    fflush(stdout);
    if (_saved >= 0) {
        dup2(_saved, STDOUT_FILENO);
        close(_saved);
        _saved = -1;
    }
    QFile file(QString::fromStdString(_path));
    file.open(QIODevice::ReadOnly);
    return file.readAll().toStdString();
}

void TraceLog::add(const std::string& line) {
    const size_t space = line.find(' ');
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    _changed.notify_all();
}

std::vector<std::string> TraceLog::lines() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _lines;
}

size_t TraceLog::count(const std::string& line) const {
    std::lock_guard<std::mutex> lock(_mutex);
    size_t n = 0;
    for (const std::string& seen : _lines) {
        n += seen == line ? 1 : 0;
    }
    return n;
}

std::vector<std::string> TraceLog::linesAfter(size_t& seen) const {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::string> after(_lines.begin() + static_cast<std::ptrdiff_t>(seen),
                                   _lines.end());
    seen = _lines.size();
    return after;
}

bool TraceLog::waitForCount(const std::string& line, size_t wanted) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::milliseconds(PATIENCE_MS), [&] {
        size_t n = 0;
        for (const std::string& seen : _lines) {
            n += seen == line ? 1 : 0;
        }
        return n >= wanted;
    });
}

void Gate::close() {
    std::lock_guard<std::mutex> lock(_mutex);
    _closed = true;
}

void Gate::open() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _closed = false;
    }
    _changed.notify_all();
}

void Gate::pass() {
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait_for(lock, std::chrono::milliseconds(PATIENCE_MS), [this] { return !_closed; });
}

Panel::Panel(const QString& launcherCfg)
    : model([this](const std::string& line) {
          gate.pass();
          trace.add(line);
      }),
      device(model) {
    // Each test is a fresh process as far as the library's toggle shadow goes.
    toggle_shadow = 0;
    writeFile(QStringLiteral("launcher.cfg"), launcherCfg.toUtf8());
    fpga = std::make_unique<keylight::FPGA>(path(QStringLiteral("launcher.cfg")),
                                            QStringLiteral(PANEL_X11_FONT_DIR));
}

Panel::~Panel() {
    fpga.reset();
}

void Panel::drain() {
    fpga->setLEDStatusIndicator(31, 0);
    ++_drains;
    if (!trace.waitForCount(DRAIN_MARKER, _drains)) {
        fprintf(stderr, "the worker did not reach the drain marker\n");
        abort();
    }
}

void Panel::holdWorker() {
    gate.close();
}

void Panel::releaseWorker() {
    gate.open();
}

std::vector<std::string> Panel::takeButtonLedWrites() {
    const std::vector<std::string> all = trace.lines();
    std::vector<std::string> writes;
    for (size_t i = _seen; i < all.size(); ++i) {
        unsigned command = 0;
        if (sscanf(all[i].c_str(), "W 0900 %4X", &command) != 1 || (command >> 14) != 1) {
            continue;
        }
        const bool lit = (command >> 13) & 1;
        writes.push_back((lit ? "L" : "D") + std::to_string((command >> 8) & 0x1F));
    }
    _seen = all.size();
    return writes;
}

QString Panel::path(const QString& name) const {
    return dir.filePath(name);
}

void Panel::writeFile(const QString& name, const QByteArray& content) const {
    QFile file(path(name));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
}

NotifySocket::NotifySocket() {
    _descriptor = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = _folder.filePath(QStringLiteral("notify")).toLocal8Bit();
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    bind(_descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
    setenv("NOTIFY_SOCKET", path.constData(), 1);
}

NotifySocket::~NotifySocket() {
    unsetenv("NOTIFY_SOCKET");
    close(_descriptor);
}

QStringList NotifySocket::messages() {
    QStringList received;
    char buffer[4096];
    for (ssize_t length; (length = recv(_descriptor, buffer, sizeof buffer, 0)) >= 0;) {
        received << QString::fromUtf8(buffer, static_cast<int>(length));
    }
    return received;
}

bool processUntil(const std::function<bool()>& done) {
    QDeadlineTimer patience(PATIENCE_MS);
    while (!done()) {
        if (patience.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void deliverDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QByteArray frame(const QByteArray& record) {
    std::vector<uint8_t> out;
    klm_append_frame(out, record.constData(), static_cast<size_t>(record.size()));
    return bytesOf(out);
}

QByteArray ledButtonStateRecord(int32_t buttonId, int32_t state, int32_t time) {
    return bytesOf(klm_record_of<KLM_SetLEDButtonState>(buttonId, state, time));
}

QByteArray typeOnlyRecord(uint32_t type) {
    QByteArray out(4, '\0');
    qToBigEndian<uint32_t>(type, out.data());
    return out;
}

QByteArray queryRecord() {
    return typeOnlyRecord(TYPE_QUERY);
}

QByteArray nullRecord(const QByteArray& payload) {
    return typeOnlyRecord(TYPE_NULL_MESSAGE) + payload;
}

QByteArray textLineRecord(int32_t screenId, int32_t lineId, bool inverted, const QByteArray& text) {
    const QByteArray tail = text + '\0';
    return bytesOf(klm_tailed_record_of<KLM_TextLine>(
        tail.constData(), static_cast<size_t>(tail.size()), screenId, lineId, inverted ? 1 : 0));
}

QByteArray subTextLineRecord(int32_t screenId, int32_t lineId, int32_t offset, int32_t numChars,
                             uint32_t textColour, uint32_t backColour, const QByteArray& text) {
    const QByteArray tail = text + '\0';
    return bytesOf(klm_tailed_record_of<KLM_SubTextLine>(
        tail.constData(), static_cast<size_t>(tail.size()), screenId, lineId, offset, numChars,
        textColour, backColour));
}

QByteArray blackoutScreenRecord(int32_t screenId) {
    return bytesOf(klm_record_of<KLM_BlackoutScreen>(screenId));
}

QByteArray drawImageRecord(int32_t screenId, int32_t x, int32_t y, const QByteArray& bmp) {
    return bytesOf(klm_tailed_record_of<KLM_DrawTFTImage>(
        bmp.constData(), static_cast<size_t>(bmp.size()), screenId, x, y));
}

QByteArray uploadImageRecord(int32_t imageId, int32_t size, uint8_t fill) {
    KLM_UploadImage record{};
    record._type = TYPE_UPLOAD_IMAGE;
    record._image_id = static_cast<uint32_t>(imageId);
    record._size = static_cast<uint32_t>(size);
    memset(record._data, fill, sizeof record._data);
    return bytesOf(klm_record(record));
}

QByteArray reconfigureRecord() {
    return bytesOf(klm_record_of<KLM_Reconfigure>(0));
}

QByteArray statusIndicatorRecord(int32_t id, int32_t state) {
    return bytesOf(klm_record_of<KLM_SetLEDStatusIndicator>(id, state));
}

QByteArray toggleIndicatorRecord(int32_t id, int32_t state) {
    return bytesOf(klm_record_of<KLM_SetLEDToggleIndicator>(id, state));
}

QByteArray solidBmp(int width, int height, uint32_t rgb) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const int dataSize = rowBytes * height;
    QByteArray bmp;
    bmp.append("BM");
    appendLittle(bmp, static_cast<uint32_t>(54 + dataSize), 4);
    appendLittle(bmp, 0, 4);
    appendLittle(bmp, 54, 4);
    appendLittle(bmp, 40, 4);
    appendLittle(bmp, static_cast<uint32_t>(width), 4);
    appendLittle(bmp, static_cast<uint32_t>(height), 4);
    appendLittle(bmp, 1, 2);
    appendLittle(bmp, 24, 2);
    appendLittle(bmp, 0, 4);
    appendLittle(bmp, static_cast<uint32_t>(dataSize), 4);
    appendLittle(bmp, 2835, 4);
    appendLittle(bmp, 2835, 4);
    appendLittle(bmp, 0, 4);
    appendLittle(bmp, 0, 4);
    for (int y = 0; y < height; ++y) {
        QByteArray row;
        for (int x = 0; x < width; ++x) {
            row.append(static_cast<char>(rgb & 0xFF));
            row.append(static_cast<char>((rgb >> 8) & 0xFF));
            row.append(static_cast<char>((rgb >> 16) & 0xFF));
        }
        row.append(QByteArray(rowBytes - row.size(), '\0'));
        bmp.append(row);
    }
    return bmp;
}

Client::Client(quint16 port) {
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(PATIENCE_MS);
}

void Client::send(const QByteArray& bytes) {
    socket.write(bytes);
    socket.waitForBytesWritten(PATIENCE_MS);
}

QByteArray Client::receive(qint64 count) {
    processUntil([&] { return socket.bytesAvailable() >= count; });
    return socket.readAll();
}

}  // namespace servertest
