// Frames that keylight-send builds for each command, byte for byte, and the inputs it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sendcommands.h"
#include "temp_dir.h"

using keylightsend::Batch;

namespace {

std::vector<uint8_t> frames_of(const std::vector<std::string>& words) {
    Batch batch;
    std::string error;
    EXPECT_TRUE(keylightsend::append_commands(words, batch, error)) << error;
    return batch.bytes;
}

std::string refusal_of(const std::vector<std::string>& words) {
    Batch batch;
    std::string error;
    EXPECT_FALSE(keylightsend::append_commands(words, batch, error));
    return error;
}

std::vector<uint8_t> words_be(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> bytes;
    for (const uint32_t value : values) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<uint8_t>(value >> shift));
        }
    }
    return bytes;
}

std::vector<uint8_t> joined(std::vector<uint8_t> head, const std::vector<uint8_t>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::vector<uint8_t> text_bytes(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

}  // namespace

TEST(KeylightSendFrames, toggle_indicator_on_is_the_sixteen_bytes_keylight_expects) {
    EXPECT_EQ(frames_of({"toggle", "0", "on"}),
              (std::vector<uint8_t>{0, 0, 0, 0x0C, 0, 0, 0, 0x16, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(KeylightSendFrames, query_is_its_type_alone_and_counts_one_answer) {
    Batch batch;
    std::string error;
    ASSERT_TRUE(keylightsend::append_commands({"query"}, batch, error));
    EXPECT_EQ(batch.bytes, (std::vector<uint8_t>{0, 0, 0, 4, 0, 0, 0, 0x0C}));
    EXPECT_EQ(batch.queries, 1);
}

TEST(KeylightSendFrames, led_sets_a_steady_state_with_no_blink_time) {
    EXPECT_EQ(frames_of({"led", "23", "on"}), words_be({16, 17, 23, 1, 0}));
    EXPECT_EQ(frames_of({"led", "all", "off"}), words_be({16, 17, 0xFFFFFFFF, 0, 0}));
}

TEST(KeylightSendFrames, blink_asks_for_state_minus_one_with_its_phase_time) {
    EXPECT_EQ(frames_of({"blink", "3", "500"}), words_be({16, 17, 3, 0xFFFFFFFF, 500}));
}

TEST(KeylightSendFrames, status_indicator_carries_index_and_state) {
    EXPECT_EQ(frames_of({"status", "31", "on"}), words_be({12, 21, 31, 1}));
    EXPECT_EQ(frames_of({"status", "0", "0"}), words_be({12, 21, 0, 0}));
}

TEST(KeylightSendFrames, text_line_carries_its_zero_byte_and_the_inverted_flag) {
    EXPECT_EQ(frames_of({"text", "1", "2", "Hi"}),
              joined(words_be({23, 15, 1, 2, 0, 3}), text_bytes("Hi")));
    EXPECT_EQ(frames_of({"text", "all", "0", "Hi", "inverted"}),
              joined(words_be({23, 15, 0xFFFFFFFF, 0, 1, 3}), text_bytes("Hi")));
}

TEST(KeylightSendFrames, empty_text_is_a_record_of_21_bytes) {
    EXPECT_EQ(frames_of({"text", "0", "0", ""}), joined(words_be({21, 15, 0, 0, 0, 1}), {0}));
}

TEST(KeylightSendFrames, subtext_counts_its_characters_and_takes_colours) {
    EXPECT_EQ(frames_of({"subtext", "2", "1", "4", "OK", "#00FF00", "0x102030"}),
              joined(words_be({35, 18, 2, 1, 4, 2, 0x00FF00, 0x102030, 3}), text_bytes("OK")));
}

TEST(KeylightSendFrames, subtext_is_white_on_black_unless_told) {
    EXPECT_EQ(frames_of({"subtext", "0", "0", "0", "A"}),
              joined(words_be({34, 18, 0, 0, 0, 1, 0xFFFFFF, 0, 2}), text_bytes("A")));
}

TEST(KeylightSendFrames, image_already_as_keylight_draws_it_goes_unchanged_at_its_position) {
    TempDir dir;
    const std::vector<uint8_t> bmp = bmp24(3, 2, 0x56, 0x34, 0x12);
    const std::string file = dir.write("small.bmp", bmp);
    const auto size = static_cast<uint32_t>(bmp.size());
    EXPECT_EQ(frames_of({"image", "1", file, "10", "20"}),
              joined(words_be({20 + size, 19, 1, 10, 20, size}), bmp));
    EXPECT_EQ(frames_of({"image", "all", file}),
              joined(words_be({20 + size, 19, 0xFFFFFFFF, 0, 0, size}), bmp));
}

TEST(KeylightSendFrames, blackout_and_reconfigure_are_eight_byte_records) {
    EXPECT_EQ(frames_of({"blackout", "all"}), words_be({8, 16, 0xFFFFFFFF}));
    EXPECT_EQ(frames_of({"blackout", "2"}), words_be({8, 16, 2}));
    EXPECT_EQ(frames_of({"reconfigure"}), words_be({8, 10, 0}));
}

TEST(KeylightSendFrames, upload_carries_the_120_image_bytes_under_its_id) {
    TempDir dir;
    std::vector<uint8_t> image(120);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    EXPECT_EQ(frames_of({"upload", "30", dir.write("arrow.img", image)}),
              joined(words_be({132, 6, 30, 120}), image));
}

TEST(KeylightSendFrames, commands_separated_by_a_comma_follow_each_other_in_one_batch) {
    Batch batch;
    std::string error;
    ASSERT_TRUE(keylightsend::append_commands(
        {"led", "3", "on", ",", "query", ",", "toggle", "1", "off", ",", "query"}, batch, error));
    EXPECT_EQ(batch.bytes, joined(joined(joined(words_be({16, 17, 3, 1, 0}), words_be({4, 12})),
                                         words_be({12, 22, 1, 0})),
                                  words_be({4, 12})));
    EXPECT_EQ(batch.queries, 2);
}

TEST(KeylightSendRefusals, name_the_argument_and_its_range) {
    const struct {
        std::vector<std::string> words;
        std::string reason;
    } cases[] = {
        {{"led", "24", "on"}, "led: button must be 0..23 or all, not '24'"},
        {{"led", "-1", "on"}, "led: button must be 0..23 or all, not '-1'"},
        {{"led", "3", "bright"}, "led: state must be on or off, not 'bright'"},
        {{"blink", "3", "0"}, "blink: blink time in ms must be 1..2147483647, not '0'"},
        {{"blink", "3", "5x"}, "blink: blink time in ms must be 1..2147483647, not '5x'"},
        {{"status", "32", "on"}, "status: status indicator must be 0..31, not '32'"},
        {{"toggle", "2", "on"}, "toggle: toggle indicator must be 0..1, not '2'"},
        {{"text", "3", "0", "x"}, "text: screen must be 0..2 or all, not '3'"},
        {{"text", "0", "0", "x", "bold"}, "text: text takes 'inverted' after the text, not 'bold'"},
        {{"text", "0", "0", "caf\xc3\xa9"}, "text: text must be ASCII: 'caf\xc3\xa9'"},
        {{"subtext", "0", "0", "0", "x", "red"},
         "subtext: colour must be #RRGGBB or 0xRRGGBB, not 'red'"},
        {{"subtext", "0", "0", "0", "x", "#12345"},
         "subtext: colour must be #RRGGBB or 0xRRGGBB, not '#12345'"},
        {{"image", "0", "x.bmp", "5"}, "image: image takes both X and Y, or neither"},
        {{"image", "0", "x.bmp", "128", "0"}, "image: x must be 0..127, not '128'"},
        {{"upload", "-2", "x.img"}, "upload: image id must be 0..2147483647, not '-2'"},
        {{"led", "3"}, "led takes BUTTON|all on|off (1 argument given)"},
        {{"query", "now"}, "query takes no arguments (1 argument given)"},
        {{"flash", "3"}, "unknown command 'flash' (see --help)"},
        {{"led", "3", "on", ","}, "empty command around ','"},
        {{",", "query"}, "empty command around ','"},
        {{}, "no command given"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refusal_of(c.words), c.reason);
    }
}

TEST(KeylightSendRefusals, files_that_cannot_be_read_or_are_not_what_the_command_carries) {
    TempDir dir;
    const std::string missing = dir.path("missing.bmp");
    EXPECT_EQ(refusal_of({"image", "0", missing}),
              "image: cannot read " + missing + ": No such file or directory");
    EXPECT_EQ(refusal_of({"upload", "1", missing}),
              "upload: cannot read " + missing + ": No such file or directory");

    const std::string short_image = dir.write("short.img", std::vector<uint8_t>(100));
    EXPECT_EQ(refusal_of({"upload", "1", short_image}),
              "upload: " + short_image + " holds 100 bytes; an uploaded image is 120 bytes");
}

// A BMP file of 2 x 2 pixels with one field of its header changed.
std::vector<uint8_t> bmp_with(size_t at, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> bmp = bmp24(2, 2, 0, 0, 0);
    std::copy(bytes.begin(), bytes.end(), bmp.begin() + static_cast<std::ptrdiff_t>(at));
    return bmp;
}

// A picture of the test data with some bytes changed, cut after `length` bytes.
std::vector<uint8_t> data_with(const std::string& name, size_t at,
                               std::initializer_list<uint8_t> bytes, size_t length = SIZE_MAX) {
    std::ifstream in(std::string(KEYLIGHT_SEND_TEST_DATA) + "/" + name, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    file.resize(std::min(length, file.size()));
    return file;
}

TEST(KeylightSendRefusals,
     pictures_name_their_format_and_headers_cannot_ask_for_more_than_the_file_holds) {
    TempDir dir;
    std::vector<uint8_t> png_start(64);
    {
        std::ifstream in(std::string(KEYLIGHT_SEND_TEST_DATA) + "/photo.png", std::ios::binary);
        in.read(reinterpret_cast<char*>(png_start.data()),
                static_cast<std::streamsize>(png_start.size()));
    }
    const struct {
        std::vector<uint8_t> file;
        std::string reason;  // after the file's name
    } cases[] = {
        {text_bytes("just some words, no picture at all here"), " is neither a PNG nor a BMP file"},
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'},
         " is a JPEG file; keylight-send draws PNG and BMP files"},
        {bmp_with(28, {24, 0, 4}),
         " is a 24-bit BMP with JPEG compression, which keylight-send cannot read"},
        {bmp_with(28, {2}), " is a 2-bit BMP, which keylight-send cannot read"},
        {bmp_with(14, {64}), " is a BMP with a 64-byte header, which keylight-send cannot read"},
        {bmp_with(18, {0, 0, 0, 0}), " has no pixels"},
        // Sizes a 32-bit size_t would wrap: width x height x 3 and a height of -2^31.
        {bmp_with(18, {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}),
         " is 2147483647 x 2147483647 pixels; keylight-send takes pictures of at most 8192 x 8192"},
        {bmp_with(22, {0, 0, 0, 0x80}),
         " is 2 x 2147483648 pixels; keylight-send takes pictures of at most 8192 x 8192"},
        {bmp_with(18, {0, 0x20, 0, 0, 0, 0x20, 0, 0}), " is cut short (70 bytes)"},
        {bmp_with(10, {0xF0, 0xFF, 0xFF, 0xFF}), " is cut short (70 bytes)"},
        {png_start, " cannot be read as PNG: the file is cut short"},
        // logo-v3.bmp: 13 x 7 pixels, RLE8 from byte 1078, each row padded to 16 pixels by a run.
        {data_with("logo-v3.bmp", 1078, {0x20}),
         " is damaged: its RLE data runs past the end of row 6"},
        {data_with("logo-v3.bmp", 1078, {0, 2, 0, 7}),
         " is damaged: an RLE jump leads out of the picture"},
        {data_with("logo-v3.bmp", 1288, {3, 0}),
         " is damaged: its RLE data runs on past the last row"},
        {data_with("logo-v3.bmp", 0, {}, 1100), " is cut short (1100 bytes)"},
        {data_with("logo-v3.bmp", 46, {16, 0}),
         " is damaged: pixel 0,6 is colour 78, past its palette of 16 colours"},
        {data_with("four.bmp", 46, {2}),
         " is damaged: pixel 6,0 is colour 2, past its palette of 2 colours"},
    };
    for (const auto& c : cases) {
        const std::string file = dir.write("picture", c.file);
        EXPECT_EQ(refusal_of({"image", "0", file}), "image: " + file + c.reason);
    }
}

TEST(KeylightSendLines, split_like_a_shell_for_quotes_escapes_and_comments) {
    const struct {
        std::string line;
        std::vector<std::string> words;
    } cases[] = {
        {"  led 3   on\t", {"led", "3", "on"}},
        {"text 0 1 'Hello world'", {"text", "0", "1", "Hello world"}},
        {"text 0 1 \"say \\\"hi\\\" \\\\ \"", {"text", "0", "1", "say \"hi\" \\ "}},
        {"text 0 1 a\\ b", {"text", "0", "1", "a b"}},
        {"text 0 1 ''", {"text", "0", "1", ""}},
        {"led 3 on , query # health check", {"led", "3", "on", ",", "query"}},
        {"text 0 1 no#comment", {"text", "0", "1", "no#comment"}},
        {"# only a comment", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words;
        std::string error;
        EXPECT_TRUE(keylightsend::split_line(c.line, words, error)) << c.line;
        EXPECT_EQ(words, c.words) << c.line;
    }
}

TEST(KeylightSendLines, refuse_unterminated_quotes_and_a_trailing_backslash) {
    std::vector<std::string> words;
    std::string error;
    EXPECT_FALSE(keylightsend::split_line("text 0 0 'open", words, error));
    EXPECT_EQ(error, "unterminated ' quote");
    EXPECT_FALSE(keylightsend::split_line("text 0 0 \"open", words, error));
    EXPECT_EQ(error, "unterminated \" quote");
    EXPECT_FALSE(keylightsend::split_line("text 0 0 end\\", words, error));
    EXPECT_EQ(error, "backslash at the end of the line");
}

TEST(KeylightSendOptions, default_to_local_port_3003_with_a_one_second_timeout) {
    keylightsend::Options options;
    std::string error;
    ASSERT_TRUE(keylightsend::parse_options({"query"}, options, error)) << error;
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_EQ(options.port, 3003);
    EXPECT_EQ(options.timeout_ms, 1000);
    EXPECT_EQ(options.words, std::vector<std::string>{"query"});
}

TEST(KeylightSendOptions, come_before_the_commands_and_leave_them_alone) {
    keylightsend::Options options;
    std::string error;
    ASSERT_TRUE(keylightsend::parse_options(
        {"--host", "::1", "--port", "4000", "--timeout", "250", "text", "0", "0", "--port"},
        options, error))
        << error;
    EXPECT_EQ(options.host, "::1");
    EXPECT_EQ(options.port, 4000);
    EXPECT_EQ(options.timeout_ms, 250);
    EXPECT_EQ(options.words, (std::vector<std::string>{"text", "0", "0", "--port"}));
}

TEST(KeylightSendOptions, refuse_bad_values_unknown_options_and_nothing_to_do) {
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{"--port", "0", "query"}, "--port must be 1..65535, not '0'"},
        {{"--port", "65536", "query"}, "--port must be 1..65535, not '65536'"},
        {{"--timeout", "soon", "query"}, "--timeout in ms must be 1..3600000, not 'soon'"},
        {{"--port"}, "--port needs a value"},
        {{"--verbose", "query"}, "unknown option '--verbose' (see --help)"},
        {{"--stdin", "query"},
         "--stdin reads the commands from standard input; 'query' is one too many"},
        {{}, "no command given (see --help)"},
    };
    for (const auto& c : cases) {
        keylightsend::Options options;
        std::string error;
        EXPECT_FALSE(keylightsend::parse_options(c.args, options, error));
        EXPECT_EQ(error, c.reason);
    }
}

TEST(KeylightSendOptions, help_lists_every_command_with_an_example) {
    const std::string text = keylightsend::usage();
    for (const keylightsend::Command& command : keylightsend::commands()) {
        EXPECT_NE(text.find(std::string("  ") + command.name), std::string::npos) << command.name;
        EXPECT_NE(text.find(std::string("e.g. keylight-send ") + command.name), std::string::npos)
            << command.name;
    }
}

TEST(KeylightSendOptions, help_examples_are_themselves_accepted) {
    for (const keylightsend::Command& command : keylightsend::commands()) {
        if (std::string(command.example).find(".png") != std::string::npos ||
            std::string(command.example).find(".img") != std::string::npos) {
            continue;  // they name files of the reader's own
        }
        std::vector<std::string> words;
        std::string error;
        ASSERT_TRUE(keylightsend::split_line(std::string(command.name) + " " + command.example,
                                             words, error));
        Batch batch;
        EXPECT_TRUE(keylightsend::append_commands(words, batch, error))
            << command.name << ": " << error;
    }
}
