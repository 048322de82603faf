#pragma once

#include <QString>
#include <QThread>

#include <cstdint>

namespace keylight {

class RegisterWindow;

// Display data register of the vacuum displays, byte offset in the FPGA register window.
// Bits 0-7 and 16-23 carry the character of display 0 and 1, bits 8 and 24 are their
// write strobes, active low.
constexpr std::uint32_t VACUUM_DATA_REGISTER = 0x8054;
constexpr std::uint32_t VACUUM_STROBE0_IDLE = 0x00000100;
constexpr std::uint32_t VACUUM_STROBE1_IDLE = 0x01000000;

// Clocks characters into a vacuum display. Never started as a thread of its own: it lives in
// the Vacuum thread and receives the texts there.
class VacuumWriter : public QThread {
    Q_OBJECT

public:
    // window must outlive the writer; it is not owned.
    explicit VacuumWriter(RegisterWindow* window, QObject* parent = nullptr);

public slots:
    // Writes each character of text to the display chosen by the low 8 bits of vacuum_index
    // (0: display 0, else display 1): four stores, then a 1 ms pause per character.
    // Characters outside Latin-1 are sent as code 0.
    void text(int vacuum_index, QString text);

protected:
    // Does nothing: the writer only serves as the receiver of the texts.
    void run() override;

private:
    void writeCharacter(bool firstDisplay, std::uint32_t code);

    RegisterWindow* _window;
};

}  // namespace keylight
