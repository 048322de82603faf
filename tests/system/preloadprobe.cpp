// Reaches files and the register device the ways the panel programs do (C library, Qt,
// FreeType), so that the preload tests can watch what arrives under ROOT. One command per
// run; the outcome is printed on standard output and given as the exit status.
//
//   read PATH                  fopen, print the contents
//   stat PATH                  stat, lstat, statx, access, realpath; print what they found
//   settings-write PATH KEY VALUE / settings-read PATH KEY     QSettings (INI)
//   list PATH                  QDir entries, sorted
//   watch PATH                 QFileSystemWatcher; prints "watching", then "changed" once the
//                              file changes (gives up after 30 s)
//   font PATH                  FreeType face: "font FAMILY WxH"
//   device THREADS COUNT       THREADS threads, each COUNT status LED writes and one burst
//   open-device [COUNT]        open "/dev/fpga-reg" COUNT times (default once), keeping each
//                              descriptor, and report errno of the last open
//   exit STATUS                end with STATUS at once
#include <fcntl.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileSystemWatcher>
#include <QSettings>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "fpga_request.h"

namespace {

int readFile(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        std::printf("fopen failed: %s\n", std::strerror(errno));
        return 1;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        std::fwrite(buffer, 1, got, stdout);
    std::fclose(file);
    return 0;
}

int statFile(const char* path) {
    struct stat info;
    const int s = ::stat(path, &info);
    const int statErrno = errno;
    struct stat linkInfo;
    const int l = ::lstat(path, &linkInfo);
    struct statx extended;
    const int x = ::statx(AT_FDCWD, path, 0, STATX_SIZE, &extended);
    const int a = ::access(path, R_OK);
    char resolved[PATH_MAX];
    const char* r = ::realpath(path, resolved);
    std::printf("stat %d size %lld errno %s\n", s,
                s == 0 ? static_cast<long long>(info.st_size) : -1LL,
                s == 0 ? "0" : std::strerror(statErrno));
    std::printf("lstat %d statx %d size %lld access %d\n", l, x,
                x == 0 ? static_cast<long long>(extended.stx_size) : -1LL, a);
    std::printf("realpath %s\n", r != nullptr ? r : "-");
    return s == 0 ? 0 : 1;
}

int writeSetting(const char* path, const char* key, const char* value) {
    QSettings settings(QString::fromLocal8Bit(path), QSettings::IniFormat);
    settings.setValue(QString::fromLatin1(key), QString::fromLatin1(value));
    settings.sync();
    std::printf("status %d\n", static_cast<int>(settings.status()));
    return settings.status() == QSettings::NoError ? 0 : 1;
}

int readSetting(const char* path, const char* key) {
    QSettings settings(QString::fromLocal8Bit(path), QSettings::IniFormat);
    std::printf(
        "%s=%s\n", key,
        qPrintable(settings.value(QString::fromLatin1(key), QStringLiteral("-")).toString()));
    return 0;
}

int listFolder(const char* path) {
    const QStringList entries =
        QDir(QString::fromLocal8Bit(path)).entryList(QDir::Files, QDir::Name);
    for (const QString& entry : entries)
        std::printf("%s\n", qPrintable(entry));
    return 0;
}

int watchFile(const char* path) {
    QFileSystemWatcher watcher;
    if (!watcher.addPath(QString::fromLocal8Bit(path))) {
        std::printf("cannot watch\n");
        return 1;
    }
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, qApp, [](const QString& changed) {
        std::printf("changed %s\n", qPrintable(changed));
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(1); });
    std::printf("watching\n");
    return QCoreApplication::exec();
}

int loadFont(const char* path) {
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0)
        return 1;
    FT_Face face;
    const FT_Error error = FT_New_Face(library, path, 0, &face);
    if (error != 0) {
        std::printf("FT_New_Face error %d\n", error);
        FT_Done_FreeType(library);
        return 1;
    }
    const int width = face->num_fixed_sizes > 0 ? face->available_sizes[0].width : 0;
    const int height = face->num_fixed_sizes > 0 ? face->available_sizes[0].height : 0;
    std::printf("font %s %dx%d\n", face->family_name, width, height);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return 0;
}

fpga_request writeRecord(uint16_t address, uint32_t count) {
    fpga_request record{};
    record.address.short_word = static_cast<uint16_t>(address | FPGA_SHORT_MARK);
    record.count = count;
    return record;
}

// Each thread lights and darkens its own status LED and sends one burst; every access must
// succeed with errno left as it was.
int driveDevice(int threads, int count) {
    const int fd = ::open("/dev/fpga-reg", O_RDWR);
    if (fd < 0) {
        std::printf("open failed: %s\n", std::strerror(errno));
        return 1;
    }
    std::vector<int> failures(static_cast<size_t>(threads), 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([fd, t, count, &failures] {
            std::vector<uint16_t> burst(300, static_cast<uint16_t>(t));
            for (int i = 0; i < count; ++i) {
                fpga_request record = writeRecord(0x0900, 1);
                record.data.value = static_cast<uint16_t>((0x80 | ((i & 1) ? 0 : 0x20) | t) << 8);
                errno = 1234;
                if (::ioctl(fd, FPGA_REQ_SHORT, &record) != 0 || errno != 1234)
                    ++failures[t];
            }
            fpga_request record = writeRecord(0x0A0F, static_cast<uint32_t>(burst.size()));
            record.data.words = burst.data();
            if (::ioctl(fd, FPGA_REQ_SHORT, &record) != 0)
                ++failures[t];
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    fpga_request read{};
    read.address.short_word = 0x1000 | FPGA_SHORT_MARK | FPGA_SHORT_READ;
    read.count = 1;
    const int readResult = ::ioctl(fd, FPGA_REQ_SHORT, &read);
    fpga_request unknown = writeRecord(0x0900, 1);
    const int unknownResult = ::ioctl(fd, _IOWR('$', 7, fpga_request), &unknown);
    const int unknownErrno = errno;
    int failed = 0;
    for (int f : failures)
        failed += f;
    std::printf("failures %d status %d %u unknown %d %s\n", failed, readResult, read.data.value,
                unknownResult, std::strerror(unknownErrno));
    ::close(fd);
    return failed == 0 ? 0 : 1;
}

// Opens the device count times, keeping every descriptor, and prints how the last open went.
int openDevice(int count) {
    int fd = -1;
    for (int i = 0; i < count; ++i) {
        errno = 0;
        fd = ::open("/dev/fpga-reg", O_RDWR);
    }
    std::printf("open %d %s\n", fd < 0 ? -1 : 0, fd < 0 ? std::strerror(errno) : "ok");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const auto is = [&](const char* command, int arguments) {
        return argc == arguments + 2 && std::strcmp(argv[1], command) == 0;
    };
    if (is("read", 1))
        return readFile(argv[2]);
    if (is("stat", 1))
        return statFile(argv[2]);
    if (is("settings-write", 3))
        return writeSetting(argv[2], argv[3], argv[4]);
    if (is("settings-read", 2))
        return readSetting(argv[2], argv[3]);
    if (is("list", 1))
        return listFolder(argv[2]);
    if (is("watch", 1))
        return watchFile(argv[2]);
    if (is("font", 1))
        return loadFont(argv[2]);
    if (is("device", 2))
        return driveDevice(std::atoi(argv[2]), std::atoi(argv[3]));
    if (is("open-device", 0))
        return openDevice(1);
    if (is("open-device", 1))
        return openDevice(std::atoi(argv[2]));
    if (is("exit", 1))
        return std::atoi(argv[2]);
    std::fputs("usage: preloadprobe COMMAND ARGS...\n", stderr);
    return 2;
}
