#pragma once

// Cell formatting shared by the event tables. Cells are built as finished text so that the
// caller's stream keeps its own alignment and number format.

#include <string>

namespace stopwatch {

// text padded with spaces on the right to width; longer text is kept whole.
std::string leftAligned(const std::string& text, int width);
// text padded with spaces on the left to width; longer text is kept whole.
std::string rightAligned(const std::string& text, int width);
// value in fixed notation with 3 decimals and a decimal point, whatever the locale.
std::string fixed3(double value);
// a run of width "=" characters.
std::string separator(int width);

}  // namespace stopwatch
