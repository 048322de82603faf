#include "debugline.h"

#include <QDebug>

namespace lampwatch {

// Qt drops the space after the last item of a debug line; the line here keeps it, and the
// one Qt would add is the one it drops.
DebugLine::~DebugLine() {
    if (_type == QtCriticalMsg) {
        qCritical().noquote() << _line;
    } else {
        qInfo().noquote() << _line;
    }
}

DebugLine& DebugLine::operator<<(const char* text) {
    _line += QString::fromLatin1(text) + QLatin1Char(' ');
    return *this;
}

DebugLine& DebugLine::operator<<(int number) {
    _line += QString::number(number) + QLatin1Char(' ');
    return *this;
}

DebugLine& DebugLine::operator<<(const QString& text) {
    _line += QLatin1Char('"') + text + QLatin1String("\" ");
    return *this;
}

}  // namespace lampwatch
