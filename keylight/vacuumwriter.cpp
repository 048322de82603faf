#include "vacuumwriter.h"

#include "registerwindow.h"

#include <ctime>

namespace keylight {

VacuumWriter::VacuumWriter(RegisterWindow* window, QObject* parent)
    : QThread(parent), _window(window) {}

void VacuumWriter::run() {}

void VacuumWriter::text(int vacuum_index, QString text) {
    const bool firstDisplay = (vacuum_index & 0xFF) == 0;
    for (const QChar character : text) {
        writeCharacter(firstDisplay, static_cast<unsigned char>(character.toLatin1()));
        // The display takes about a character per millisecond; the time left over when a
        // signal interrupts the pause does not matter.
        const timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
}

// The character goes onto the data bits with both strobes idle, the chosen display's strobe
// is held low for two stores, then released. The other display's strobe stays idle.
void VacuumWriter::writeCharacter(bool firstDisplay, std::uint32_t code) {
    const std::uint32_t data = firstDisplay ? code : code << 16;
    const std::uint32_t strobing = firstDisplay ? VACUUM_STROBE1_IDLE : VACUUM_STROBE0_IDLE;
    const std::uint32_t idle = VACUUM_STROBE0_IDLE | VACUUM_STROBE1_IDLE;
    _window->store(VACUUM_DATA_REGISTER, data | idle);
    _window->store(VACUUM_DATA_REGISTER, data | strobing);
    _window->store(VACUUM_DATA_REGISTER, data | strobing);
    _window->store(VACUUM_DATA_REGISTER, data | idle);
}

}  // namespace keylight
