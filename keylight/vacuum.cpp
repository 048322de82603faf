#include "vacuum.h"

#include "vacuumwriter.h"

#include <QMetaType>
#include <QStringList>

namespace keylight {

namespace {

constexpr int LINE_LENGTH = 20;

// The display's command to start again from the first position of line 1.
const QChar RESTART_FRAME(0x000B);

QString displayLine(const QStringList& lines, int index) {
    const QString line = index < lines.size() ? lines[index] : QString();
    return line.left(LINE_LENGTH).leftJustified(LINE_LENGTH, QLatin1Char(' '));
}

}  // namespace

Vacuum::Vacuum(QObject* parent, RegisterWindow* window) : QThread(parent), _window(window) {
    qRegisterMetaType<QString>("QString");
}

Vacuum::~Vacuum() {
    quit();
    wait();
}

void Vacuum::run() {
    VacuumWriter writer(_window);
    connect(this, &Vacuum::text_signal, &writer, &VacuumWriter::text, Qt::QueuedConnection);
    {
        std::lock_guard<std::mutex> lock(_ready_mutex);
        _writer_ready = true;
    }
    _ready_changed.notify_all();
    exec();
    std::lock_guard<std::mutex> lock(_ready_mutex);
    _writer_ready = false;
}

void Vacuum::showText(int vacuum_index, const QString& text) {
    if (!isRunning()) {
        start(QThread::HighestPriority);
        // Until the writer is connected, an emitted text would reach nobody.
        std::unique_lock<std::mutex> lock(_ready_mutex);
        _ready_changed.wait(lock, [this] { return _writer_ready; });
    }

    const QStringList lines = text.split(QLatin1Char('\n'));
    const QString frame = displayLine(lines, 0) + displayLine(lines, 1);
    if (!_text.isEmpty() && frame == _text)
        return;
    _text = frame;
    emit text_signal(vacuum_index, QString(RESTART_FRAME));
    emit text_signal(vacuum_index, _text);
}

}  // namespace keylight
