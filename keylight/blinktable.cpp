#include "blinktable.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace keylight {

namespace {

const QByteArray HEADER = QByteArrayLiteral("keylight blink table ");
const QByteArray VERSION = QByteArrayLiteral("1");
const QByteArray END = QByteArrayLiteral("end ");
constexpr int FIELDS = 5;
constexpr int STATE_MAX = 255;

// A decimal int and nothing else: no sign other than a leading minus, no spaces.
bool parseInt(const QByteArray& text, int& value) {
    if (text.isEmpty() || text.startsWith('+')) {
        return false;
    }
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && QByteArray::number(value) == text;
}

QString rowDefect(const QByteArray& line, const std::function<bool(int)>& isButton,
                  std::set<int>& seen, BlinkRow& row) {
    const QList<QByteArray> fields = line.split(' ');
    int values[FIELDS];
    if (fields.size() != FIELDS) {
        return QStringLiteral("is no row of five numbers");
    }
    for (int i = 0; i < FIELDS; ++i) {
        if (!parseInt(fields.at(i), values[i])) {
            return QStringLiteral("is no row of five numbers");
        }
    }
    row = BlinkRow{values[0], values[1], values[2], values[3], values[4]};
    if (!isButton(row.id)) {
        return QStringLiteral("names button %1, which the panel does not have").arg(row.id);
    }
    if (!seen.insert(row.id).second) {
        return QStringLiteral("names button %1 a second time").arg(row.id);
    }
    for (const int state : {row.first_state, row.second_state}) {
        if (state < 0 || state > STATE_MAX) {
            return QStringLiteral("has a state outside 0 to %1").arg(STATE_MAX);
        }
    }
    if (row.first_time == 0 || row.second_time == 0) {
        return QStringLiteral("has a time of 0, which never blinks");
    }
    return {};
}

}  // namespace

bool BlinkRow::operator==(const BlinkRow& other) const {
    return id == other.id && first_state == other.first_state &&
           second_state == other.second_state && first_time == other.first_time &&
           second_time == other.second_time;
}

QByteArray blinkTableBytes(const std::vector<BlinkRow>& rows) {
    QByteArray bytes = HEADER + VERSION + '\n';
    char line[80];
    for (const BlinkRow& row : rows) {
        const int length = snprintf(line, sizeof line, "%d %d %d %d %d\n", row.id, row.first_state,
                                    row.second_state, row.first_time, row.second_time);
        bytes.append(line, length);
    }
    bytes += END + QByteArray::number(static_cast<qulonglong>(rows.size())) + '\n';
    return bytes;
}

std::vector<BlinkRow> parseBlinkTable(const QByteArray& bytes,
                                      const std::function<bool(int)>& isButton, QString& why) {
    why.clear();
    if (bytes.isEmpty()) {
        why = QStringLiteral("it is empty");
        return {};
    }
    const QList<QByteArray> lines = bytes.split('\n');
    if (!lines.first().startsWith(HEADER)) {
        why = QStringLiteral("it is no blink table (no \"%1\" line first)")
                  .arg(QString::fromLatin1(HEADER + VERSION));
        return {};
    }
    const QByteArray version = lines.first().mid(HEADER.size());
    if (version != VERSION) {
        int number = 0;
        why = parseInt(version, number)
                  ? QStringLiteral(
                        "it is a blink table of version %1; this keylight reads "
                        "version %2")
                        .arg(number)
                        .arg(QString::fromLatin1(VERSION))
                  : QStringLiteral("it is no blink table (no \"%1\" line first)")
                        .arg(QString::fromLatin1(HEADER + VERSION));
        return {};
    }
    // The bytes end with a line end, so the split's last piece is empty.
    if (!bytes.endsWith('\n') || lines.size() < 3 || !lines.at(lines.size() - 2).startsWith(END)) {
        why = QStringLiteral("it is cut short (no \"end\" line last)");
        return {};
    }
    const int rowCount = static_cast<int>(lines.size()) - 3;
    int counted = 0;
    if (!parseInt(lines.at(lines.size() - 2).mid(END.size()), counted) || counted != rowCount) {
        why = QStringLiteral("its \"end\" line does not count the %1 rows it holds").arg(rowCount);
        return {};
    }
    std::vector<BlinkRow> rows;
    std::set<int> seen;
    for (int i = 1; i <= rowCount; ++i) {
        BlinkRow row{};
        const QString defect = rowDefect(lines.at(i), isButton, seen, row);
        if (!defect.isEmpty()) {
            why = QStringLiteral("line %1 %2").arg(i + 1).arg(defect);
            return {};
        }
        rows.push_back(row);
    }
    return rows;
}

BlinkTableFile::BlinkTableFile(const QString& folder)
    : _path(folder.isEmpty() ? QString() : folder + QLatin1Char('/') + QLatin1String(FILE_NAME)) {}

std::vector<BlinkRow> BlinkTableFile::load(const std::function<bool(int)>& isButton) {
    if (_path.isEmpty()) {
        return {};
    }
    const QFileInfo info(_path);
    if (info.exists() && !info.isFile()) {
        // Opening a pipe or a device would wait, or read without end.
        qWarning().noquote() << QStringLiteral(
                                    "keylight: blink table \"%1\" not resumed: it is no regular "
                                    "file; no button blinks")
                                    .arg(_path);
        return {};
    }
    QFile file(_path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists()) {
            qWarning().noquote() << QStringLiteral(
                                        "keylight: blink table \"%1\" not resumed: %2; no "
                                        "button blinks")
                                        .arg(_path, file.errorString());
        }
        return {};
    }
    const QByteArray bytes = file.read(SIZE_MAX_BYTES + 1);
    QString why;
    std::vector<BlinkRow> rows;
    if (bytes.size() > SIZE_MAX_BYTES) {
        why = QStringLiteral("it is larger than the %1 bytes of any table").arg(SIZE_MAX_BYTES);
    } else if (file.error() != QFileDevice::NoError) {
        why = file.errorString();
    } else {
        rows = parseBlinkTable(bytes, isButton, why);
    }
    if (!why.isEmpty()) {
        qWarning().noquote()
            << QStringLiteral("keylight: blink table \"%1\" not resumed: %2; no button blinks")
                   .arg(_path, why);
        return {};
    }
    _written = bytes;
    return rows;
}

void BlinkTableFile::save(const std::vector<BlinkRow>& rows) {
    if (_path.isEmpty()) {
        return;
    }
    const QByteArray bytes = blinkTableBytes(rows);
    if (bytes == _written) {
        return;
    }
    QString why;
    if (!replaceFile(bytes, why)) {
        _written.clear();
        if (!_failing) {
            _failing = true;
            qWarning().noquote() << QStringLiteral(
                                        "keylight: cannot keep the blink table in \"%1\": %2; "
                                        "a restart stops the blinking")
                                        .arg(_path, why);
        }
        return;
    }
    _written = bytes;
    if (_failing) {
        _failing = false;
        qInfo().noquote()
            << QStringLiteral("keylight: keeps the blink table in \"%1\" again").arg(_path);
    }
}

// The new table goes to a file of its own first and then takes the table's name in one
// rename: a crash at any moment leaves either table whole. No fsync: the folder is on tmpfs
// and only keylight's end, not the system's, is to be survived.
bool BlinkTableFile::replaceFile(const QByteArray& bytes, QString& why) const {
    const QByteArray path = QFile::encodeName(_path);
    const QByteArray fresh = path + ".new";
    const int fd =
        ::open(fresh.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            why = QString::fromLocal8Bit(strerror(written < 0 ? errno : ENOSPC));
            ::close(fd);
            ::unlink(fresh.constData());
            return false;
        }
        done += written;
    }
    if (::close(fd) != 0 || ::rename(fresh.constData(), path.constData()) != 0) {
        why = QString::fromLocal8Bit(strerror(errno));
        ::unlink(fresh.constData());
        return false;
    }
    return true;
}

}  // namespace keylight
