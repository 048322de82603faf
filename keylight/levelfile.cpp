#include "levelfile.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "fpga.h"
#include "panel.h"

namespace keylight {

namespace {

constexpr int LINE_BUFFER = 256;  // a longer line is taken in pieces of up to 255 characters

// Stores the decimal integer at the start of text (after white space) in value, or leaves
// value as it is when there is none. A number beyond 32 bits becomes the nearest int on every
// architecture alike: scanf's %d cuts it to 32 bits where long has 64, so "scr 4294967356"
// would read 60 there.
void readLevel(const char* text, int& value) {
    char* end = nullptr;
    const long long number = strtoll(text, &end, 10);
    if (end != text) {
        value = static_cast<int>(std::clamp<long long>(number, std::numeric_limits<int>::min(),
                                                       std::numeric_limits<int>::max()));
    }
}

}  // namespace

LevelFile::LevelFile(const QString& path) : _path(path) {}

void LevelFile::read(ButtonLevels& levels, FPGA* fpga) const {
    log_puts(log_priority::info, "keylight:reconfig ");
    FILE* file = fopen(QFile::encodeName(_path).constData(), "r");
    if (file == nullptr) {
        qCritical().noquote() << QStringLiteral(
                                     "keylight: level file \"%1\" cannot be read (%2), the screen "
                                     "intensity stays as it "
                                     "is: it takes the lines \"led N\", \"lcd N\" and \"scr N\"")
                                     .arg(_path, QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    char line[LINE_BUFFER];
    while (fgets(line, sizeof line, file) != nullptr) {
        char key[LINE_BUFFER];
        int keyEnd = 0;
        if (sscanf(line, "%255s%n", key, &keyEnd) != 1) {
            continue;
        }
        int* level = nullptr;
        if (strcmp(key, "led") == 0) {
            level = &levels.led;
        } else if (strcmp(key, "lcd") == 0) {
            level = &levels.lcd;
        } else if (strcmp(key, "scr") == 0) {
            level = &levels.screen;
        } else {
            log_printf(log_priority::warning, "keylight:unknown type %s\n", key);
            continue;
        }
        readLevel(line + keyEnd, *level);
        if (level == &levels.screen && fpga != nullptr) {
            fpga->setTFTIntensity(levels.screen);
        }
    }
    fclose(file);
}

}  // namespace keylight
