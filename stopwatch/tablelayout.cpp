#include "tablelayout.h"

#include <charconv>
#include <limits>

namespace stopwatch {

std::string leftAligned(const std::string& text, int width) {
    std::string cell = text;
    if (static_cast<int>(cell.size()) < width)
        cell.append(static_cast<std::size_t>(width) - cell.size(), ' ');
    return cell;
}

std::string rightAligned(const std::string& text, int width) {
    std::string cell;
    if (static_cast<int>(text.size()) < width)
        cell.append(static_cast<std::size_t>(width) - text.size(), ' ');
    return cell + text;
}

std::string fixed3(double value) {
    // Not printf's %f: that writes the decimal point of LC_NUMERIC, which a Qt program takes
    // from the environment (a comma in many locales). to_chars writes '.' whatever the locale.
    char text[std::numeric_limits<double>::max_exponent10 + 8];
    const std::to_chars_result written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, written.ptr);
}

std::string separator(int width) {
    return std::string(static_cast<std::size_t>(width), '=');
}

}  // namespace stopwatch
