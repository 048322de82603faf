#include "tablelayout.h"

#include <cstdio>

namespace stopwatch {

std::string leftAligned(const std::string &text, int width)
{
    std::string cell = text;
    if (static_cast<int>(cell.size()) < width)
        cell.append(static_cast<std::size_t>(width) - cell.size(), ' ');
    return cell;
}

std::string rightAligned(const std::string &text, int width)
{
    std::string cell;
    if (static_cast<int>(text.size()) < width)
        cell.append(static_cast<std::size_t>(width) - text.size(), ' ');
    return cell + text;
}

std::string fixed3(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string separator(int width)
{
    return std::string(static_cast<std::size_t>(width), '=');
}

} // namespace stopwatch
