// The brightness level file: lines "led N", "lcd N" and "scr N" (key word, white space, a
// decimal integer, anything after it ignored). keylight reads it and never writes it.
#pragma once

#include <QString>

namespace keylight {

class FPGA;

// The three levels of the file; a key absent from the file keeps the value held before.
struct ButtonLevels {
    int led = 100;     // stored only
    int lcd = 100;     // stored only
    int screen = 100;  // TFT intensity in percent ("scr")
};

class LevelFile {
public:
    // The program uses the default; tests point it at a temporary file.
    explicit LevelFile(const QString& path = QStringLiteral("/etc/tesserax/buttonlevel"));

    // The whole reconfigure read: writes "keylight:reconfig " on standard output, then reads
    // the file line by line into levels. Every "scr" line posts setTFTIntensity with the screen
    // level that holds after that line when fpga is not null (a line whose number is missing
    // posts the unchanged level; a number beyond 32 bits is taken as the nearest int). An
    // unknown key prints "keylight:unknown type KEY". A file that cannot be opened leaves
    // levels as they are and is reported in one critical Qt message. No range is enforced here.
    void read(ButtonLevels& levels, FPGA* fpga) const;

private:
    QString _path;
};

}  // namespace keylight
