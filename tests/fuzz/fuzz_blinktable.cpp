// The kept blink table's reader, on any file content: what it takes, it writes back byte for
// byte.
#include <cstdint>
#include <cstdlib>

#include "blinktable.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QString why;
    const std::vector<keylight::BlinkRow> rows = keylight::parseBlinkTable(
        bytes, [](int id) { return id >= 0 && id < 24; }, why);
    if (why.isEmpty() && keylight::blinkTableBytes(rows) != bytes) {
        abort();
    }
    return 0;
}
