// One log line on the Qt message output, built item by item the way lampwatch has always
// written them: every item is followed by one space, QString items stand in double quotes,
// character strings and numbers as they are. The line is written when the object dies, as a
// message of the given type (progress: info; the PSU errors and failures: critical).
#pragma once

#include <QString>
#include <QtGlobal>

namespace lampwatch {

class DebugLine {
public:
    explicit DebugLine(QtMsgType type = QtInfoMsg) : _type(type) {}
    DebugLine(const DebugLine&) = delete;
    DebugLine& operator=(const DebugLine&) = delete;
    ~DebugLine();

    DebugLine& operator<<(const char* text);
    DebugLine& operator<<(int number);
    DebugLine& operator<<(const QString& text);

private:
    QtMsgType _type;
    QString _line;
};

}  // namespace lampwatch
