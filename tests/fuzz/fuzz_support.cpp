#include "fuzz_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

void fail(const std::string& what) {
    fprintf(stderr, "fuzz: %s\n", what.c_str());
    abort();
}

void quiet() {
    qInstallMessageHandler(dropMessage);
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        fail("cannot send standard output to /dev/null");
    }
}

void startApplication() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    // Never deleted: the objects that the fuzz targets keep until exit need it.
    static QCoreApplication* application = nullptr;
    if (application == nullptr) {
        application = new QCoreApplication(argc, argv);
    }
}

QString temporaryPath(const QString& name) {
    static QTemporaryDir dir;
    if (!dir.isValid()) {
        fail("cannot create a temporary folder");
    }
    return dir.filePath(name);
}

QString writeFontSettings() {
    const QString path = temporaryPath(QStringLiteral("launcher.cfg"));
    const QByteArray text("[font]\nwidth=8\nheight=13\n");
    writeFile(path, reinterpret_cast<const uint8_t*>(text.constData()),
              static_cast<size_t>(text.size()));
    return path;
}

void writeFile(const QString& path, const uint8_t* data, size_t size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        fail("cannot write " + path.toStdString());
    }
}

}  // namespace fuzzsupport
