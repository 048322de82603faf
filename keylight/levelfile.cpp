#include "levelfile.h"

#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fpga.h"

namespace keylight {

namespace {

constexpr int kLineBuffer = 256;  // a longer line is taken in pieces of up to 255 characters

}  // namespace

LevelFile::LevelFile(const QString& path_) : path(path_) {}

void LevelFile::read(ButtonLevels& levels, FPGA* fpga) const {
    puts("keylight:reconfig ");
    FILE* file = fopen(QFile::encodeName(path).constData(), "r");
    if (file == nullptr) {
        qCritical().noquote() << QStringLiteral(
            "keylight: level file \"%1\" cannot be read (%2), the screen intensity stays as it "
            "is: it takes the lines \"led N\", \"lcd N\" and \"scr N\"")
            .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    char line[kLineBuffer];
    while (fgets(line, sizeof line, file) != nullptr) {
        char key[kLineBuffer];
        if (sscanf(line, "%255s", key) != 1) {
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
            printf("keylight:unknown type %s\n", key);
            continue;
        }
        int value = 0;
        if (sscanf(line, "%255s %d", key, &value) == 2) {
            *level = value;
        }
        if (level == &levels.screen && fpga != nullptr) {
            fpga->setTFTIntensity(levels.screen);
        }
    }
    fclose(file);
}

}  // namespace keylight
