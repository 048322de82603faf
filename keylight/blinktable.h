// The blink table kept in a file, so that blinking outlives keylight: a restart, a crash
// brought back by systemd, the watchdog's replacement or an upgrade resume every blink.
//
// The file, "blink.table" in the folder given (systemd's RuntimeDirectory, on tmpfs, so a
// reboot clears it), is text:
//
//     keylight blink table 1
//     3 0 1 500 500
//     end 1
//
// the header with the format's version, one row per blinking button (id, first state,
// second state, first time, second time, as the blink cycle holds them), and a last line
// with the number of rows, by which a cut file shows.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace keylight {

struct BlinkRow {
    int id;
    int first_state;
    int second_state;
    int first_time;
    int second_time;

    bool operator==(const BlinkRow& other) const;
};

// The file's bytes for rows.
QByteArray blinkTableBytes(const std::vector<BlinkRow>& rows);

// The rows of a file's bytes, every id one that isButton takes; an empty text in why. When
// the bytes cannot be a table, no rows and why says what is wrong.
std::vector<BlinkRow> parseBlinkTable(const QByteArray& bytes,
                                      const std::function<bool(int)>& isButton, QString& why);

class BlinkTableFile {
public:
    static constexpr const char* FILE_NAME = "blink.table";
    // Larger than any table of the panel's buttons: read no further.
    static constexpr qint64 SIZE_MAX_BYTES = 4096;

    // Keeps the table in folder; with an empty folder it keeps nothing.
    explicit BlinkTableFile(const QString& folder);

    // The file's path; empty when nothing is kept.
    const QString& path() const { return _path; }

    // The rows of the file. No file: none, silently. A file that cannot be read or is no
    // table of these buttons: none, after one line naming the file and why.
    std::vector<BlinkRow> load(const std::function<bool(int)>& isButton);

    // Replaces the file by one holding rows, unless it holds them already. A crash at any
    // moment leaves the old file or the new one. A failure is logged once until a write
    // succeeds again.
    void save(const std::vector<BlinkRow>& rows);

private:
    bool replaceFile(const QByteArray& bytes, QString& why) const;

    QString _path;
    QByteArray _written;
    bool _failing = false;
};

}  // namespace keylight
