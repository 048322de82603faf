#include "sendcommands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

#include "klm.h"
#include "klmframe.h"
#include "registers.h"
#include "sendpicture.h"

namespace keylightsend {
namespace {

// Commands check the panel's limits before anything is sent; keylight would otherwise drop the
// message with a line in its own log that the operator may never see.
constexpr int32_t ALL = -1;          // every button or every screen
constexpr int32_t BLINK_STATE = -1;  // LED state that makes keylight blink a button

// keylight drops a frame larger than it takes (and ends the connection at a far larger one).
bool append_frame(Batch& batch, const std::vector<uint8_t>& record, std::string& error) {
    if (record.size() > KLM_LARGEST_FRAME) {
        error = "a record of " + std::to_string(record.size()) + " bytes is more than the " +
                std::to_string(KLM_LARGEST_FRAME) + " bytes keylight takes in one frame";
        return false;
    }
    klm_append_frame(batch.bytes, record);
    return true;
}

bool parse_number(const std::string& text, long long min, long long max, const char* what,
                  int32_t& value, std::string& error) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(begin, &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || parsed < min || parsed > max ||
        !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
        error = std::string(what) + " must be " + std::to_string(min) + ".." + std::to_string(max) +
                ", not '" + text + "'";
        return false;
    }
    value = static_cast<int32_t>(parsed);
    return true;
}

// A numbered panel part, or "all" where the protocol addresses every one at once.
bool parse_index_or_all(const std::string& text, int32_t count, const char* what, int32_t& value,
                        std::string& error) {
    if (text == "all") {
        value = ALL;
        return true;
    }
    if (!parse_number(text, 0, count - 1, what, value, error)) {
        error = std::string(what) + " must be 0.." + std::to_string(count - 1) + " or all, not '" +
                text + "'";
        return false;
    }
    return true;
}

bool parse_on_off(const std::string& text, int32_t& value, std::string& error) {
    if (text == "on" || text == "1") {
        value = 1;
        return true;
    }
    if (text == "off" || text == "0") {
        value = 0;
        return true;
    }
    error = "state must be on or off, not '" + text + "'";
    return false;
}

// #RRGGBB or 0xRRGGBB.
bool parse_colour(const std::string& text, uint32_t& value, std::string& error) {
    size_t digits_at = 0;
    if (text.size() == 7 && text[0] == '#') {
        digits_at = 1;
    } else if (text.size() == 8 &&
               (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0)) {
        digits_at = 2;
    }
    const std::string digits = digits_at ? text.substr(digits_at) : std::string();
    if (digits.size() != 6 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        error = "colour must be #RRGGBB or 0xRRGGBB, not '" + text + "'";
        return false;
    }
    value = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

bool check_ascii(const std::string& text, std::string& error) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            error = "text must be ASCII: '" + text + "'";
            return false;
        }
    }
    return true;
}

// Reads the file, stopping once it holds more than `most` bytes: no command could use such a
// file, and a device or an endless file would otherwise be read until memory runs out.
bool read_file(const std::string& path, size_t most, std::vector<uint8_t>& bytes,
               std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.clear();
    char chunk[64 * 1024];
    while (bytes.size() <= most) {
        in.read(chunk,
                static_cast<std::streamsize>(std::min(sizeof chunk, most + 1 - bytes.size())));
        if (in.gcount() <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
    }
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    if (bytes.size() > most) {
        error = path + " holds more than " + std::to_string(most) + " bytes";
        return false;
    }
    return true;
}

std::string cell_size(const TextCell& cell) {
    return std::to_string(cell.width) + " x " + std::to_string(cell.rows);
}

// A line or cell number below count, where count is what the screen has room for in the font's
// cells. keylight keeps only the low 8 bits of a window register, so a line past the screen
// would land on the top lines and cells past the edge would scramble.
bool parse_text_position(const std::string& text, int32_t count, const char* what,
                         const TextCell& cell, int32_t& value, std::string& error) {
    if (parse_number(text, 0, count - 1, what, value, error)) {
        return true;
    }
    if (cell.known()) {
        error = std::string(what) + " must be 0.." + std::to_string(count - 1) +
                " with the font's " + cell_size(cell) + " cells, not '" + text + "'";
    }
    return false;
}

int32_t lines_on_screen(const TextCell& cell) {
    return cell.known() ? SCREEN_HEIGHT / cell.rows : SCREEN_HEIGHT;
}

int32_t cells_in_line(const TextCell& cell) {
    return cell.known() ? SCREEN_WIDTH / cell.width : SCREEN_WIDTH;
}

// keylight draws pictures as 24-bit BMP files with a 40-byte header, sent whole: a picture
// running past the screen's edge would wrap around inside its window.
bool read_screen_bmp(const std::string& path, int32_t x, int32_t y, std::vector<uint8_t>& bmp,
                     Batch& batch, std::string& error) {
    std::vector<uint8_t> file;
    ScreenPicture picture;
    if (!read_file(path, PICTURE_FILE_MAX, file, error) ||
        !read_picture(path, file, static_cast<uint32_t>(SCREEN_WIDTH - x),
                      static_cast<uint32_t>(SCREEN_HEIGHT - y), picture, error)) {
        return false;
    }
    if (picture.width < picture.file_width || picture.height < picture.file_height) {
        batch.notes.push_back("image: " + path + " is " + std::to_string(picture.file_width) +
                              " x " + std::to_string(picture.file_height) + " pixels; at " +
                              std::to_string(x) + "," + std::to_string(y) + " only its top-left " +
                              std::to_string(picture.width) + " x " +
                              std::to_string(picture.height) + " show");
    }
    bmp = bmp24_of(picture);
    return true;
}

bool append_led(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                std::string& error) {
    int32_t button = 0;
    int32_t state = 0;
    if (!parse_index_or_all(args[0], BUTTON_COUNT, "button", button, error) ||
        !parse_on_off(args[1], state, error)) {
        return false;
    }
    return append_frame(batch, klm_record_of<KLM_SetLEDButtonState>(button, state, 0), error);
}

bool append_blink(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                  std::string& error) {
    int32_t button = 0;
    int32_t time_ms = 0;
    if (!parse_index_or_all(args[0], BUTTON_COUNT, "button", button, error) ||
        !parse_number(args[1], 1, std::numeric_limits<int32_t>::max(), "blink time in ms", time_ms,
                      error)) {
        return false;
    }
    return append_frame(batch, klm_record_of<KLM_SetLEDButtonState>(button, BLINK_STATE, time_ms),
                        error);
}

template <typename Record>
bool append_indicator(const std::vector<std::string>& args, int32_t count, const char* what,
                      Batch& batch, std::string& error) {
    int32_t indicator = 0;
    int32_t state = 0;
    if (!parse_number(args[0], 0, count - 1, what, indicator, error) ||
        !parse_on_off(args[1], state, error)) {
        return false;
    }
    return append_frame(batch, klm_record_of<Record>(indicator, state), error);
}

bool append_status(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                   std::string& error) {
    return append_indicator<KLM_SetLEDStatusIndicator>(args, STATUS_INDICATOR_COUNT,
                                                       "status indicator", batch, error);
}

bool append_toggle(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                   std::string& error) {
    return append_indicator<KLM_SetLEDToggleIndicator>(args, TOGGLE_INDICATOR_COUNT,
                                                       "toggle indicator", batch, error);
}

bool append_text(const std::vector<std::string>& args, const TextCell& cell, Batch& batch,
                 std::string& error) {
    int32_t screen = 0;
    int32_t line = 0;
    if (!parse_index_or_all(args[0], SCREEN_COUNT, "screen", screen, error) ||
        !parse_text_position(args[1], lines_on_screen(cell), "line", cell, line, error) ||
        !check_ascii(args[2], error)) {
        return false;
    }
    if (args.size() > 3 && args[3] != "inverted") {
        error = "text takes 'inverted' after the text, not '" + args[3] + "'";
        return false;
    }
    const std::string& text = args[2];
    const bool inverted = args.size() > 3;
    return append_frame(
        batch,
        klm_tailed_record_of<KLM_TextLine>(text.c_str(), text.size() + 1, screen, line, inverted),
        error);
}

bool append_subtext(const std::vector<std::string>& args, const TextCell& cell, Batch& batch,
                    std::string& error) {
    int32_t screen = 0;
    int32_t line = 0;
    int32_t offset = 0;
    uint32_t text_colour = 0xFFFFFF;
    uint32_t back_colour = 0x000000;
    if (!parse_index_or_all(args[0], SCREEN_COUNT, "screen", screen, error) ||
        !parse_text_position(args[1], lines_on_screen(cell), "line", cell, line, error) ||
        !parse_text_position(args[2], cells_in_line(cell), "offset", cell, offset, error) ||
        !check_ascii(args[3], error) ||
        (args.size() > 4 && !parse_colour(args[4], text_colour, error)) ||
        (args.size() > 5 && !parse_colour(args[5], back_colour, error))) {
        return false;
    }
    const std::string& text = args[3];
    if (cell.known() &&
        static_cast<size_t>(offset) + text.size() > static_cast<size_t>(cells_in_line(cell))) {
        error = "'" + text + "' needs cells " + std::to_string(offset) + ".." +
                std::to_string(static_cast<size_t>(offset) + text.size() - 1) +
                " and a line has cells 0.." + std::to_string(cells_in_line(cell) - 1) +
                " with the font's " + cell_size(cell) + " cells";
        return false;
    }
    // keylight renders exactly this many characters, so it must not count past the text.
    const size_t num_chars = text.size();
    return append_frame(
        batch,
        klm_tailed_record_of<KLM_SubTextLine>(text.c_str(), text.size() + 1, screen, line, offset,
                                              num_chars, text_colour, back_colour),
        error);
}

bool append_image(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                  std::string& error) {
    int32_t screen = 0;
    int32_t x = 0;
    int32_t y = 0;
    if (!parse_index_or_all(args[0], SCREEN_COUNT, "screen", screen, error) ||
        (args.size() > 2 && !parse_number(args[2], 0, SCREEN_WIDTH - 1, "x", x, error)) ||
        (args.size() > 3 && !parse_number(args[3], 0, SCREEN_HEIGHT - 1, "y", y, error))) {
        return false;
    }
    if (args.size() == 3) {
        error = "image takes both X and Y, or neither";
        return false;
    }
    std::vector<uint8_t> bmp;
    if (!read_screen_bmp(args[1], x, y, bmp, batch, error)) {
        return false;
    }
    return append_frame(
        batch, klm_tailed_record_of<KLM_DrawTFTImage>(bmp.data(), bmp.size(), screen, x, y), error);
}

bool append_blackout(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                     std::string& error) {
    int32_t screen = 0;
    if (!parse_index_or_all(args[0], SCREEN_COUNT, "screen", screen, error)) {
        return false;
    }
    return append_frame(batch, klm_record_of<KLM_BlackoutScreen>(screen), error);
}

bool append_reconfigure(const std::vector<std::string>&, const TextCell&, Batch& batch,
                        std::string& error) {
    return append_frame(batch, klm_record_of<KLM_Reconfigure>(0), error);
}

bool append_upload(const std::vector<std::string>& args, const TextCell&, Batch& batch,
                   std::string& error) {
    KLM_UploadImage record{};
    int32_t image = 0;
    if (!parse_number(args[0], 0, std::numeric_limits<int32_t>::max(), "image id", image, error)) {
        return false;
    }
    std::vector<uint8_t> data;
    if (!read_file(args[1], KLM_UPLOAD_IMAGE_BYTES, data, error)) {
        if (data.size() > KLM_UPLOAD_IMAGE_BYTES) {
            error += "; an uploaded image is " + std::to_string(KLM_UPLOAD_IMAGE_BYTES) + " bytes";
        }
        return false;
    }
    if (data.size() != KLM_UPLOAD_IMAGE_BYTES) {
        error = args[1] + " holds " + std::to_string(data.size()) +
                " bytes; an uploaded image is " + std::to_string(KLM_UPLOAD_IMAGE_BYTES) + " bytes";
        return false;
    }
    record._type = TYPE_UPLOAD_IMAGE;
    record._image_id = static_cast<uint32_t>(image);
    record._size = KLM_UPLOAD_IMAGE_BYTES;
    std::memcpy(record._data, data.data(), KLM_UPLOAD_IMAGE_BYTES);
    return append_frame(batch, klm_record(record), error);
}

// The query has no record beyond its type; keylight answers it with one frame.
bool append_query(const std::vector<std::string>&, const TextCell&, Batch& batch, std::string&) {
    klm_append_frame(batch.bytes, klm_query_record());
    ++batch.queries;
    return true;
}

const Command* find_command(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

std::string argument_count_error(const Command& command, size_t given) {
    return std::string(command.name) + " takes " +
           (command.arguments[0] ? std::string(command.arguments) : std::string("no arguments")) +
           " (" + std::to_string(given) + " argument" + (given == 1 ? "" : "s") + " given)";
}

}  // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"led", "BUTTON|all on|off", "button LED steady on or off (buttons 0..23)", "3 on", 2, 2,
         append_led},
        {"blink", "BUTTON|all MS", "button LED blinking, MS milliseconds dark then MS lit", "3 500",
         2, 2, append_blink},
        {"status", "INDEX on|off", "status indicator LED (0..31)", "4 on", 2, 2, append_status},
        {"toggle", "INDEX on|off", "toggle indicator LED (0..1; 0 is the PSU LED)", "1 off", 2, 2,
         append_toggle},
        {"text", "SCREEN|all LINE TEXT [inverted]",
         "text line across a screen (0..2), black on white or white on black", "0 1 'Hello'", 3, 4,
         append_text},
        {"subtext", "SCREEN|all LINE OFFSET TEXT [FG [BG]]",
         "text into the cells from OFFSET of a line, colours #RRGGBB (white on black)",
         "0 2 4 'OK' '#00FF00'", 4, 6, append_subtext},
        {"image", "SCREEN|all FILE [X Y]",
         "PNG or BMP picture with its top-left corner at X,Y, cut at the edges", "1 logo.png 0 0",
         2, 4, append_image},
        {"blackout", "SCREEN|all", "clear a screen to black", "all", 1, 1, append_blackout},
        {"reconfigure", "", "reload the brightness levels from /etc/tesserax/buttonlevel", "", 0, 0,
         append_reconfigure},
        {"upload", "ID FILE", "store a 120-byte button image under ID", "30 arrow.img", 2, 2,
         append_upload},
        {"query", "", "ask keylight whether it is alive; fails without an answer within --timeout",
         "", 0, 0, append_query},
    };
    return table;
}

bool append_command(const std::vector<std::string>& words, const TextCell& cell, Batch& batch,
                    std::string& error) {
    if (words.empty()) {
        error = "empty command";
        return false;
    }
    const Command* command = find_command(words[0]);
    if (!command) {
        error = "unknown command '" + words[0] + "' (see --help)";
        return false;
    }
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (args.size() < command->min_args || args.size() > command->max_args) {
        error = argument_count_error(*command, args.size());
        return false;
    }
    if (!command->append(args, cell, batch, error)) {
        error = std::string(command->name) + ": " + error;
        return false;
    }
    return true;
}

bool append_command(const std::vector<std::string>& words, Batch& batch, std::string& error) {
    return append_command(words, TextCell(), batch, error);
}

bool append_commands(const std::vector<std::string>& words, const TextCell& cell, Batch& batch,
                     std::string& error) {
    std::vector<std::string> command;
    for (size_t i = 0; i <= words.size(); ++i) {
        if (i < words.size() && words[i] != COMMAND_SEPARATOR) {
            command.push_back(words[i]);
            continue;
        }
        if (command.empty()) {
            error = words.empty() ? "no command given"
                                  : std::string("empty command around '") + COMMAND_SEPARATOR + "'";
            return false;
        }
        if (!append_command(command, cell, batch, error)) {
            return false;
        }
        command.clear();
    }
    return true;
}

bool append_commands(const std::vector<std::string>& words, Batch& batch, std::string& error) {
    return append_commands(words, TextCell(), batch, error);
}

bool split_line(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (in_word) {
                words.push_back(word);
                word.clear();
                in_word = false;
            }
        } else if (c == '#' && !in_word) {
            break;
        } else if (c == '\'') {
            const size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) {
                error = "unterminated ' quote";
                return false;
            }
            word += line.substr(i + 1, close - i - 1);
            in_word = true;
            i = close;
        } else if (c == '"') {
            in_word = true;
            for (++i;; ++i) {
                if (i >= line.size()) {
                    error = "unterminated \" quote";
                    return false;
                }
                if (line[i] == '"') {
                    break;
                }
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    ++i;
                }
                word += line[i];
            }
        } else if (c == '\\') {
            if (i + 1 >= line.size()) {
                error = "backslash at the end of the line";
                return false;
            }
            word += line[++i];
            in_word = true;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) {
        words.push_back(word);
    }
    return true;
}

bool parse_options(const std::vector<std::string>& args, Options& options, std::string& error) {
    size_t i = 0;
    for (; i < args.size() && args[i].size() > 2 && args[i].compare(0, 2, "--") == 0; ++i) {
        const std::string& option = args[i];
        if (option == "--help") {
            options.help = true;
            return true;
        }
        if (option == "--stdin") {
            options.read_stdin = true;
            continue;
        }
        if (option != "--host" && option != "--port" && option != "--timeout") {
            error = "unknown option '" + option + "' (see --help)";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = option + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        int32_t number = 0;
        if (option == "--host") {
            if (value.empty()) {
                error = "--host needs a value";
                return false;
            }
            options.host = value;
        } else if (option == "--port") {
            if (!parse_number(value, 1, 65535, "--port", number, error)) {
                return false;
            }
            options.port = static_cast<uint16_t>(number);
        } else {
            if (!parse_number(value, 1, 3600000, "--timeout in ms", number, error)) {
                return false;
            }
            options.timeout_ms = number;
        }
    }
    options.words.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (options.read_stdin && !options.words.empty()) {
        error = "--stdin reads the commands from standard input; '" + options.words[0] +
                "' is one too many";
        return false;
    }
    if (!options.read_stdin && options.words.empty()) {
        error = "no command given (see --help)";
        return false;
    }
    return true;
}

std::string usage() {
    std::string text =
        "Usage: keylight-send [OPTIONS] COMMAND [ARGS...] [, COMMAND [ARGS...]]...\n"
        "       keylight-send [OPTIONS] --stdin\n"
        "Sends messages to keylight, the panel server. Commands separated by a lone ','\n"
        "go out together in one write; with --stdin every input line holds one or more\n"
        "commands and is sent as soon as it is read ('#' starts a comment).\n"
        "\n"
        "Options:\n"
        "  --host HOST     keylight's address (default 127.0.0.1)\n"
        "  --port PORT     keylight's TCP port (default 3003)\n"
        "  --timeout MS    how long to wait for the connection and for query answers\n"
        "                  (default 1000)\n"
        "  --stdin         read commands from standard input, one line at a time\n"
        "  --help          show this text\n"
        "\n"
        "Commands:\n";
    for (const Command& command : commands()) {
        text += "  " + std::string(command.name) + (command.arguments[0] ? " " : "") +
                command.arguments + "\n";
        text += "      " + std::string(command.summary) + "\n";
        text += "      e.g. keylight-send " + std::string(command.name) +
                (command.example[0] ? " " : "") + command.example + "\n";
    }
    text +=
        "\n"
        "Batch: keylight-send led 3 on , text 0 0 'Ready' , query\n"
        "\n"
        "Exit status: 0 sent (and every query answered), 1 no connection or no answer,\n"
        "2 bad arguments or unreadable files.\n";
    return text;
}

}  // namespace keylightsend
