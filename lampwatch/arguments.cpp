#include "arguments.h"

#include "debugline.h"

namespace lampwatch {

namespace {

// The list as Qt 4's debug stream printed it: ("lampwatch", "2000").
QString listText(const QStringList& items) {
    QStringList quoted;
    for (const QString& item : items)
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    return QLatin1Char('(') + quoted.join(QLatin1String(", ")) + QLatin1Char(')');
}

}  // namespace

std::optional<int> pollInterval(const QStringList& arguments) {
    if (arguments.size() != 2)
        return DEFAULT_POLL_INTERVAL_MS;
    bool number = false;
    const int interval = arguments.at(1).toInt(&number, 10);
    if (!number || interval == 0)
        return std::nullopt;
    DebugLine() << "Arguments provided:" << listText(arguments).toLatin1().constData();
    return interval < 0 ? DEFAULT_POLL_INTERVAL_MS : interval;
}

}  // namespace lampwatch
