// The brightness level file reader, on any file content.
#include <cstdint>

#include "fuzz_support.h"
#include "levelfile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path = fuzzsupport::temporaryPath(QStringLiteral("buttonlevel"));
    fuzzsupport::writeFile(path, data, size);
    keylight::ButtonLevels levels;
    keylight::LevelFile(path).read(levels, nullptr);
    return 0;
}
