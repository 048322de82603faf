// The character cell of the font keylight draws text with on this device, so that keylight-send
// can refuse lines and cells that would not show.
#pragma once

#include <string>

namespace keylightsend {

// Width and rows of one character cell in pixels; 0 x 0 when unknown.
struct TextCell {
    int width = 0;
    int rows = 0;
    bool known() const { return width > 0 && rows > 0; }
};

// The settings file and the font folder keylight reads.
constexpr const char* DEVICE_SETTINGS_FILE = "/etc/tesserax/launcher.cfg";
constexpr const char* DEVICE_FONT_DIR = "/opt/tesserax/fonts";

// Reads [font] width and height from the INI file at settings_path, opens font_dir/WxH.pcf.gz
// as keylight would and measures its cell with the panel library (which prints its own line on
// standard output when FreeType rejects the file). Unknown when either file cannot be read, the
// size is not set, or the cell is larger than the screen.
TextCell text_cell_from(const std::string& settings_path, const std::string& font_dir);

}  // namespace keylightsend
