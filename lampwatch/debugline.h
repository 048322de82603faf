// One log line on the Qt debug output, built item by item the way lampwatch has always
// written them: every item is followed by one space, QString items stand in double quotes,
// character strings and numbers as they are. The line is written when the object dies.
#pragma once

#include <QString>

namespace lampwatch {

class DebugLine {
public:
    DebugLine() = default;
    DebugLine(const DebugLine&) = delete;
    DebugLine& operator=(const DebugLine&) = delete;
    ~DebugLine();

    DebugLine& operator<<(const char* text);
    DebugLine& operator<<(int number);
    DebugLine& operator<<(const QString& text);

private:
    QString _line;
};

}  // namespace lampwatch
