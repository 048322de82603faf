// What the fuzz targets share: a quiet process (the daemons log every message, which would
// drown the fuzzer's own report), one Qt application, and the files keylight reads.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzsupport {

// Reports a broken expectation on standard error and aborts, which libFuzzer counts as a
// finding and saves the input.
[[noreturn]] void fail(const std::string& what);

// Drops Qt messages and standard output; standard error (the fuzzer's and the sanitizers'
// reports) stays.
void quiet();

// The one QCoreApplication of the process, created on the first call.
void startApplication();

// name in a temporary folder of the process, removed when the process exits.
QString temporaryPath(const QString& name);

// Writes a launcher.cfg with group "font" set to the 8 x 13 font; returns its path.
QString writeFontSettings();

// Writes bytes to path, replacing the file; fails the run when it cannot.
void writeFile(const QString& path, const uint8_t* data, size_t size);

}  // namespace fuzzsupport
