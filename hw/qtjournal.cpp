#include "qtjournal.h"

#include <QByteArray>
#include <QLoggingCategory>
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
    // Disabled types are not even formatted by qCDebug and the like, and not written by
    // plain qDebug; QT_LOGGING_RULES still overrides these rules.
    QString rules;
    if (!log_kept(log_priority::debug)) {
        rules += QStringLiteral("*.debug=false\n");
    }
    if (!log_kept(log_priority::info)) {
        rules += QStringLiteral("*.info=false\n");
    }
    if (!log_kept(log_priority::warning)) {
        rules += QStringLiteral("*.warning=false\n");
    }
    if (!rules.isEmpty()) {
        QLoggingCategory::setFilterRules(rules);
    }
    if (log_is_journal(stderr)) {
        qInstallMessageHandler(journalMessage);
    }
}
