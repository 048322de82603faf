// keylight-send's option and command parsers (the words of a command line) and its input
// line splitter (--stdin). The first byte of an input chooses: even, the rest is the command
// line as words separated by zero bytes; odd, the rest is standard input, one line per line
// end. Whatever is accepted, every frame in the batch must be whole and agree with its own
// length field, and the batch must count its queries.
//
// Commands name files: the words a.bmp and b.img stand for a picture and a button image in a
// temporary folder, and an input with a '/' in it is skipped, so that no other folder is read.
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "klm.h"
#include "sendcommands.h"

namespace {

// A 2 x 1 24-bit BMP: 54 header bytes, then one row of two pixels and its 2 padding bytes.
const uint8_t PICTURE[] = {'B', 'M', 62, 0, 0, 0, 0,    0,    0,    0,    54,   0,    0,  0, 40, 0,
                           0,   0,   2,  0, 0, 0, 1,    0,    0,    0,    1,    0,    24, 0, 0,  0,
                           0,   0,   8,  0, 0, 0, 0,    0,    0,    0,    0,    0,    0,  0, 0,  0,
                           0,   0,   0,  0, 0, 0, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0,  0};
static_assert(sizeof PICTURE == 62, "header, one row and its padding");

struct Files {
    std::string picture;
    std::string image;
};

const Files& files() {
    static const Files made = [] {
        const QString picture = fuzzsupport::temporaryPath(QStringLiteral("a.bmp"));
        const QString image = fuzzsupport::temporaryPath(QStringLiteral("b.img"));
        fuzzsupport::writeFile(picture, PICTURE, sizeof PICTURE);
        const std::vector<uint8_t> bytes(KLM_UPLOAD_IMAGE_BYTES, 0x5A);
        fuzzsupport::writeFile(image, bytes.data(), bytes.size());
        return Files{QFile::encodeName(picture).toStdString(),
                     QFile::encodeName(image).toStdString()};
    }();
    return made;
}

void nameFiles(std::vector<std::string>& words) {
    for (std::string& word : words) {
        if (word == "a.bmp") {
            word = files().picture;
        } else if (word == "b.img") {
            word = files().image;
        }
    }
}

uint32_t bigEndian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The offset of the field that counts a record's variable bytes, and its fixed size.
bool variablePart(uint32_t type, size_t& countAt, size_t& fixed) {
    switch (type) {
    case TYPE_TFT_TEXT_LINE:
        countAt = offsetof(KLM_TextLine, _text_len);
        fixed = sizeof(KLM_TextLine);
        return true;
    case TYPE_TFT_SUB_TEXT_LINE:
        countAt = offsetof(KLM_SubTextLine, _text_len);
        fixed = sizeof(KLM_SubTextLine);
        return true;
    case TYPE_DRAW_TFT_IMAGE:
        countAt = offsetof(KLM_DrawTFTImage, _size);
        fixed = sizeof(KLM_DrawTFTImage);
        return true;
    default:
        return false;
    }
}

void checkBatch(const keylightsend::Batch& batch) {
    const std::vector<uint8_t>& bytes = batch.bytes;
    int queries = 0;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) {
            fuzzsupport::fail("a frame is shorter than its length and type");
        }
        const uint32_t length = bigEndian(&bytes[at]);
        if (length < 4 || bytes.size() - at - 4 < length) {
            fuzzsupport::fail("a frame's length does not fit the batch");
        }
        const uint8_t* record = &bytes[at + 4];
        const uint32_t type = bigEndian(record);
        queries += type == TYPE_QUERY;
        size_t countAt = 0;
        size_t fixed = 0;
        if (variablePart(type, countAt, fixed) &&
            (length < fixed || bigEndian(record + countAt) != length - fixed)) {
            fuzzsupport::fail("a record's length field disagrees with its frame");
        }
        at += 4 + length;
    }
    if (queries != batch.queries) {
        fuzzsupport::fail("the batch miscounts its queries");
    }
}

void runCommandLine(const std::string& text) {
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        args.push_back(text.substr(start, end - start));
    }
    args.push_back(text.substr(start));
    keylightsend::Options options;
    std::string error;
    if (!keylightsend::parse_options(args, options, error) || options.help || options.read_stdin) {
        return;
    }
    nameFiles(options.words);
    keylightsend::Batch batch;
    keylightsend::append_commands(options.words, batch, error);
    checkBatch(batch);
}

void runInput(const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::vector<std::string> words;
        std::string error;
        if (keylightsend::split_line(text.substr(start, end - start), words, error) &&
            !words.empty()) {
            nameFiles(words);
            keylightsend::Batch batch;
            keylightsend::append_commands(words, batch, error);
            checkBatch(batch);
        }
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || memchr(data, '/', size) != nullptr) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        runCommandLine(text);
    } else {
        runInput(text);
    }
    return 0;
}
