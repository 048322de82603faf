// keylight-send: sends messages to keylight from a shell or a script.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "sendcommands.h"
#include "sendsocket.h"
#include "textcell.h"

namespace {

// Exit statuses: sent, no connection or no answer, refused input.
constexpr int EXIT_SENT = 0;
constexpr int EXIT_NOT_DELIVERED = 1;
constexpr int EXIT_BAD_INPUT = 2;

int fail(int status, const std::string& reason) {
    std::fprintf(stderr, "keylight-send: %s\n", reason.c_str());
    return status;
}

void print_notes(const keylightsend::Batch& batch, const std::string& prefix) {
    for (const std::string& note : batch.notes) {
        std::fprintf(stderr, "keylight-send: %s%s\n", prefix.c_str(), note.c_str());
    }
}

// Sends one batch and collects the answers to its queries.
int deliver(int fd, const keylightsend::Batch& batch, int timeout_ms) {
    std::string error;
    if (!keylightsend::send_all(fd, batch.bytes, error) ||
        (batch.queries > 0 && !keylightsend::await_answers(fd, batch.queries, timeout_ms, error))) {
        return fail(EXIT_NOT_DELIVERED, error);
    }
    return EXIT_SENT;
}

int send_arguments(const keylightsend::Options& options, const keylightsend::TextCell& cell) {
    keylightsend::Batch batch;
    std::string error;
    if (!keylightsend::append_commands(options.words, cell, batch, error)) {
        return fail(EXIT_BAD_INPUT, error);
    }
    print_notes(batch, "");
    const int fd = keylightsend::connect_to(options.host, options.port, options.timeout_ms, error);
    if (fd < 0) {
        return fail(EXIT_NOT_DELIVERED, error);
    }
    const int status = deliver(fd, batch, options.timeout_ms);
    close(fd);
    return status;
}

// One line, one batch, sent as soon as it is read, so a script can feed keylight over time.
int send_lines(const keylightsend::Options& options, const keylightsend::TextCell& cell) {
    std::string error;
    const int fd = keylightsend::connect_to(options.host, options.port, options.timeout_ms, error);
    if (fd < 0) {
        return fail(EXIT_NOT_DELIVERED, error);
    }
    int status = EXIT_SENT;
    std::string line;
    for (int number = 1; status == EXIT_SENT && std::getline(std::cin, line); ++number) {
        std::vector<std::string> words;
        keylightsend::Batch batch;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (!keylightsend::split_line(line, words, error) ||
            (!words.empty() && !keylightsend::append_commands(words, cell, batch, error))) {
            status = fail(EXIT_BAD_INPUT, where + error);
        } else if (!words.empty()) {
            print_notes(batch, where);
            status = deliver(fd, batch, options.timeout_ms);
        }
    }
    close(fd);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    keylightsend::Options options;
    std::string error;
    if (!keylightsend::parse_options(std::vector<std::string>(argv + 1, argv + argc), options,
                                     error)) {
        return fail(EXIT_BAD_INPUT, error);
    }
    if (options.help) {
        std::fputs(keylightsend::usage().c_str(), stdout);
        return EXIT_SENT;
    }
    // On the device (or under panelsim-run) keylight's own font settings bound the text lines.
    const keylightsend::TextCell cell = keylightsend::text_cell_from(
        keylightsend::DEVICE_SETTINGS_FILE, keylightsend::DEVICE_FONT_DIR);
    return options.read_stdin ? send_lines(options, cell) : send_arguments(options, cell);
}
