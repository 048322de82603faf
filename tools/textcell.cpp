#include "textcell.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "panel.h"
#include "registers.h"

namespace keylightsend {
namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A decimal value as keylight's settings reader takes it: anything else counts as 0.
int integer_value(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    char* end = nullptr;
    const long parsed = std::strtol(value.c_str(), &end, 10);
    return value.empty() || *end != '\0' || parsed < 0 || parsed > SCREEN_WIDTH
               ? 0
               : static_cast<int>(parsed);
}

// [font] width and height of an INI file; false when it cannot be read.
bool read_font_size(const std::string& settings_path, int& width, int& height) {
    std::ifstream in(settings_path);
    if (!in) {
        return false;
    }
    std::string group;
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            group = trimmed(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t equals = line.find('=');
        if (group != "font" || equals == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(line.substr(0, equals));
        const int value = integer_value(trimmed(line.substr(equals + 1)));
        if (key == "width") {
            width = value;
        } else if (key == "height") {
            height = value;
        }
    }
    return true;
}

}  // namespace

TextCell text_cell_from(const std::string& settings_path, const std::string& font_dir) {
    int width = 0;
    int height = 0;
    if (!read_font_size(settings_path, width, height) || width == 0 || height == 0) {
        return TextCell();
    }
    const std::string font =
        font_dir + "/" + std::to_string(width) + "x" + std::to_string(height) + ".pcf.gz";
    TextCell cell;
    if (access(font.c_str(), R_OK) != 0 ||
        font_file_cell_size(font.c_str(), &cell.width, &cell.rows) != 0 ||
        cell.width > SCREEN_WIDTH || cell.rows > SCREEN_HEIGHT) {
        return TextCell();
    }
    return cell;
}

}  // namespace keylightsend
