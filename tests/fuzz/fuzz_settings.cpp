// The launcher settings reader of the FPGA object (group "font", the font it then loads), on
// any file content. Each input is a new file: QSettings caches what it read of a path.
#include <QFile>

#include <cstdint>

#include "fpga.h"
#include "fpgamodel.h"
#include "fuzz_support.h"
#include "inprocessdevice.h"

namespace {

struct Harness {
    panelsim::FpgaModel model;
    panelsim::InProcessDevice device{model};
    // Never deleted, like the FPGA object of keylight's start-up; its worker runs to the end.
    keylight::FPGA* fpga =
        new keylight::FPGA(fuzzsupport::writeFontSettings(), QStringLiteral(PANEL_X11_FONT_DIR));
    unsigned long long inputs = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    fuzzsupport::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness* harness = new Harness;
    const QString path =
        fuzzsupport::temporaryPath(QStringLiteral("launcher-%1.cfg").arg(++harness->inputs));
    fuzzsupport::writeFile(path, data, size);
    harness->fpga->check_font_settings(path);
    QFile::remove(path);
    return 0;
}
