#include "qtjournal.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "panel.h"

namespace {

log_priority priorityOf(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return log_priority::debug;
    case QtInfoMsg:
        return log_priority::info;
    case QtWarningMsg:
        return log_priority::warning;
    case QtCriticalMsg:
    case QtFatalMsg:
        break;
    }
    return log_priority::err;
}

void journalMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
    log_line(stderr, priorityOf(type), line.constData(), static_cast<size_t>(line.size()));
}

}  // namespace

void qt_messages_to_journal() {
    if (log_is_journal(stderr)) {
        qInstallMessageHandler(journalMessage);
    }
}
