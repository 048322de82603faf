// The keylight-send program as a shell runs it: exit status, its one error line, and the bytes
// that reach a listener.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fake_keylight.h"
#include "klmframe.h"
#include "sendcommands.h"
#include "temp_dir.h"

namespace {

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_all(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

// Runs keylight-send with args, feeding input on its standard input.
ProgramRun run_send(const std::vector<std::string>& args, const std::string& input = "") {
    TempDir dir;
    const std::string in_path = dir.write("in", std::vector<uint8_t>(input.begin(), input.end()));
    const std::string out_path = dir.path("out");
    const std::string err_path = dir.path("err");
    // Everything the child needs is made before fork: the listener's thread may hold the
    // allocator's lock at that moment.
    // In a cross build the program runs under the target's emulator.
    std::vector<char*> argv;
    if (*PANEL_TARGET_EMULATOR != '\0')
        argv.push_back(const_cast<char*>(PANEL_TARGET_EMULATOR));
    argv.push_back(const_cast<char*>(KEYLIGHT_SEND_BINARY));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(in_path.c_str(), O_RDONLY), 0);
        dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ProgramRun result;
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    const int out = open(out_path.c_str(), O_RDONLY);
    const int err = open(err_path.c_str(), O_RDONLY);
    result.out = read_all(out);
    result.err = read_all(err);
    close(out);
    close(err);
    return result;
}

std::vector<std::string> with_port(uint16_t port, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(port)});
    return args;
}

std::vector<uint8_t> frames_of(const std::vector<std::string>& words) {
    keylightsend::Batch batch;
    std::string error;
    EXPECT_TRUE(keylightsend::append_commands(words, batch, error)) << error;
    return batch.bytes;
}

}  // namespace

TEST(KeylightSendProgram, sends_a_batch_over_one_connection_and_exits_0) {
    FakeKeylight keylight;
    const std::vector<std::string> words{"led", "3", "on",    ",", "text",
                                         "0",   "0", "Ready", ",", "query"};
    const ProgramRun run = run_send(with_port(keylight.port(), words));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(keylight.connections(1).at(0), frames_of(words));
}

TEST(KeylightSendProgram, sends_each_standard_input_line_skipping_blanks_and_comments) {
    FakeKeylight keylight;
    const ProgramRun run = run_send(with_port(keylight.port(), {"--stdin"}),
                                    "# start-up picture\n"
                                    "blackout all\n"
                                    "\n"
                                    "text 1 0 'Hello world' inverted , query\n"
                                    "toggle 1 on");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(keylight.connections(1).at(0),
              frames_of({"blackout", "all", ",", "text", "1", "0", "Hello world", "inverted", ",",
                         "query", ",", "toggle", "1", "on"}));
}

TEST(KeylightSendProgram, stops_standard_input_at_a_bad_line_with_its_number_and_status_2) {
    FakeKeylight keylight;
    const ProgramRun run =
        run_send(with_port(keylight.port(), {"--stdin"}), "led 1 on\nled 99 on\nled 2 on\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "keylight-send: line 2: led: button must be 0..23 or all, not '99'\n");
    EXPECT_EQ(keylight.connections(1).at(0), frames_of({"led", "1", "on"}));
}

TEST(KeylightSendProgram, refuses_bad_arguments_with_one_line_and_status_2_before_connecting) {
    const ProgramRun run = run_send({"--port", "1", "led", "3", "on", ",", "blink", "3", "0"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "keylight-send: blink: blink time in ms must be 1..2147483647, not '0'\n");
}

TEST(KeylightSendProgram, refuses_an_unreadable_file_with_status_2) {
    TempDir dir;
    const std::string missing = dir.path("logo.bmp");
    const ProgramRun run = run_send({"image", "0", missing});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "keylight-send: image: cannot read " + missing + ": No such file or directory\n");
}

TEST(KeylightSendProgram, query_fails_with_status_1_when_nothing_listens) {
    uint16_t port = 0;
    {
        FakeKeylight gone;
        port = gone.port();
    }
    const ProgramRun run = run_send(with_port(port, {"query"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "keylight-send: cannot connect to 127.0.0.1:" + std::to_string(port) +
                           ": Connection refused\n");
}

TEST(KeylightSendProgram, query_fails_with_status_1_when_the_answer_does_not_come_in_time) {
    FakeKeylight keylight(FakeKeylight::Answers::None);
    const ProgramRun run = run_send(with_port(keylight.port(), {"--timeout", "50", "query"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "keylight-send: no answer to query within 50 ms\n");
}

TEST(KeylightSendProgram, help_goes_to_standard_output_with_status_0) {
    const ProgramRun run = run_send({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, keylightsend::usage());
}

TEST(KeylightSendProgram, no_arguments_is_a_usage_error) {
    const ProgramRun run = run_send({});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "keylight-send: no command given (see --help)\n");
}

TEST(KeylightSendProgram,
     refuses_a_frame_keylight_would_not_take_and_stops_reading_an_endless_file) {
    FakeKeylight keylight;
    // A text line record is 20 bytes, the text and its zero: one byte more than keylight takes.
    const std::string text(KLM_LARGEST_FRAME - 20, 'x');
    const ProgramRun too_large = run_send(with_port(keylight.port(), {"--stdin"}),
                                          "led 1 on\ntext 0 0 " + text + "\nled 2 on\n");
    EXPECT_EQ(too_large.status, 2);
    EXPECT_EQ(too_large.err,
              "keylight-send: line 2: text: a record of 65537 bytes is more than the 65536 bytes "
              "keylight takes in one frame\n");
    EXPECT_EQ(keylight.connections(1).at(0), frames_of({"led", "1", "on"}));

    const ProgramRun endless = run_send({"--port", "1", "upload", "1", "/dev/zero"});
    EXPECT_EQ(endless.status, 2);
    EXPECT_EQ(endless.err,
              "keylight-send: upload: /dev/zero holds more than 120 bytes; an uploaded image is "
              "120 bytes\n");
}
