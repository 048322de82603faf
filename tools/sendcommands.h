// keylight-send's command language: subcommands and their arguments turned into frames of the
// keylight control protocol, ready for the wire.
//
// Every function here reports a refused input by returning false and leaving a one-line
// reason in `error` (no program name, no line end); nothing is printed and nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "textcell.h"

namespace keylightsend {

// Frames to send in one write, and how many query answers they ask for.
struct Batch {
    std::vector<uint8_t> bytes;  // length-prefixed records in network order, back to back
    int queries = 0;
    std::vector<std::string> notes;  // one line each for standard error: what was changed to fit
};

// One subcommand: its name, what it takes and the function that appends its frame.
struct Command {
    const char* name;
    const char* arguments;  // as shown by --help
    const char* summary;
    const char* example;  // arguments only, after the name
    size_t min_args;
    size_t max_args;
    bool (*append)(const std::vector<std::string>& args, const TextCell& cell, Batch& batch,
                   std::string& error);
};

// The subcommands in the order --help lists them.
const std::vector<Command>& commands();

// The word that separates the commands of one batch on a command line or an input line.
constexpr const char* COMMAND_SEPARATOR = ",";

// Appends the frame of one command (words[0] is its name, the rest its arguments). Refuses an
// unknown name, a wrong number of arguments, a value out of range or a file that cannot be
// read or is not what the command carries. Lines and cells of text must fit the screen in the
// font's cell when the cell is known; without it any line and offset up to 127 goes.
bool append_command(const std::vector<std::string>& words, const TextCell& cell, Batch& batch,
                    std::string& error);
bool append_command(const std::vector<std::string>& words, Batch& batch, std::string& error);

// Appends the frames of every command in words, commands separated by COMMAND_SEPARATOR.
// Refuses an empty list or an empty command; on a refusal batch may hold the frames of the
// commands before the refused one.
bool append_commands(const std::vector<std::string>& words, const TextCell& cell, Batch& batch,
                     std::string& error);
bool append_commands(const std::vector<std::string>& words, Batch& batch, std::string& error);

// Splits one input line into words the way a shell does for simple cases: blanks separate,
// single quotes keep everything, double quotes keep everything but \" and \\, a backslash
// outside quotes keeps the next character, and a # at the start of a word begins a comment.
// Refuses an unterminated quote or a trailing backslash.
bool split_line(const std::string& line, std::vector<std::string>& words, std::string& error);

// Options that come before the commands.
struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 3003;
    int timeout_ms = 1000;
    bool read_stdin = false;
    bool help = false;
    std::vector<std::string> words;  // the commands, still unparsed
};

// Reads the options (--host H, --port P, --timeout MS, --stdin, --help) from args (program name
// excluded) up to the first word that is not an option. Refuses an unknown option, a missing
// or bad value, commands together with --stdin, and neither commands nor --stdin nor --help.
bool parse_options(const std::vector<std::string>& args, Options& options, std::string& error);

// The --help text: usage, options, and every subcommand with an example.
std::string usage();

}  // namespace keylightsend
