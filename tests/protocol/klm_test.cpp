// The records as they travel: bytes on the wire after hton, and back after ntoh.
#include "klm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const void* record, size_t size) {
    const auto* first = static_cast<const uint8_t*>(record);
    return Bytes(first, first + size);
}

// A frame as a client writes it: big-endian length, then the record.
Bytes frameOf(const Bytes& record) {
    const auto n = static_cast<uint32_t>(record.size());
    Bytes frame = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    frame.insert(frame.end(), record.begin(), record.end());
    return frame;
}

void putHostWord(Bytes& record, size_t offset, uint32_t value) {
    std::memcpy(record.data() + offset, &value, sizeof value);
}

// One record kind: its size for the tail used here, where its 32-bit fields lie, where its
// length or count field lies (or 0), and its two converters over raw bytes.
struct RecordKind {
    const char* name;
    size_t size;
    std::vector<size_t> words;
    size_t length_field;
    std::function<void(uint8_t*)> hton;
    std::function<void(uint8_t*)> ntoh;
};

template <typename Record>
std::function<void(uint8_t*)> inPlace(void (*convert)(Record*, const Record*)) {
    return [convert](uint8_t* bytes) {
        auto* record = reinterpret_cast<Record*>(bytes);
        convert(record, record);
    };
}

constexpr uint32_t TAIL = 5;       // text or image bytes carried by the variable records below
constexpr uint32_t IMAGE_IDS = 2;  // image numbers carried by the image list

uint32_t tailCount(const KlmRecordLayout& layout) {
    return layout.tail == KlmTail::WORDS ? IMAGE_IDS : TAIL;
}

template <typename Record>
RecordKind kindOf(void (*hton)(Record*, const Record*), void (*ntoh)(Record*, const Record*)) {
    const KlmRecordLayout& layout = KlmRecordTraits<Record>::LAYOUT;
    std::vector<size_t> words;
    for (size_t offset = 0; offset < layout.fixed_size; offset += 4)
        if ((layout.words >> (offset / 4)) & 1)
            words.push_back(offset);
    if (layout.tail == KlmTail::WORDS)
        for (uint32_t i = 0; i < IMAGE_IDS; ++i)
            words.push_back(layout.fixed_size + 4 * i);
    RecordKind kind{layout.name, 0, words, layout.count_offset, inPlace(hton), inPlace(ntoh)};
    kind.size = klm_size(layout, layout.tail == KlmTail::NONE ? 0 : tailCount(layout));
    return kind;
}

std::vector<RecordKind> allKinds() {
#define KLM_KIND(Name, ...) kindOf(&hton_KLM_##Name, &ntoh_KLM_##Name),
    return {KLM_RECORDS(KLM_KIND, KLM_KIND)};
#undef KLM_KIND
}

// Every byte differs from its neighbours, so a swap or a missed swap always shows.
Bytes patternedHostRecord(const RecordKind& kind) {
    Bytes record(kind.size);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<uint8_t>(0x11 + 3 * i);
    if (kind.length_field != 0)
        putHostWord(record, kind.length_field,
                    std::string(kind.name) == "ImageList" ? IMAGE_IDS : TAIL);
    return record;
}

bool isWordByte(const RecordKind& kind, size_t index, size_t* word) {
    for (size_t w : kind.words)
        if (index >= w && index < w + 4) {
            *word = w;
            return true;
        }
    return false;
}

}  // namespace

TEST(KlmWire, toggle_indicator_0_on_is_the_sixteen_bytes_of_the_frame) {
    KLM_SetLEDToggleIndicator record{};
    record._type = TYPE_SET_LED_TOGGLE_INDICATOR;
    record._indicator_id = 0;
    record._state = 1;
    hton_KLM_SetLEDToggleIndicator(&record, &record);
    EXPECT_EQ(frameOf(bytesOf(&record, size_KLM_SetLEDToggleIndicator())),
              (Bytes{0, 0, 0, 0x0C, 0, 0, 0, 0x16, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(KlmWire, type_codes_are_those_peers_use) {
    EXPECT_EQ(TYPE_NULL_MESSAGE, 0u);
    EXPECT_EQ(TYPE_SET_BUTTON_LEDS, 4u);
    EXPECT_EQ(TYPE_SET_BUTTON_TEXT, 5u);
    EXPECT_EQ(TYPE_UPLOAD_IMAGE, 6u);
    EXPECT_EQ(TYPE_SET_BUTTON_IMAGE, 7u);
    EXPECT_EQ(TYPE_SET_OPTION, 8u);
    EXPECT_EQ(TYPE_RECONFIGURE, 10u);
    EXPECT_EQ(TYPE_SET_BUTTON_LEDS_BLINK, 11u);
    EXPECT_EQ(TYPE_QUERY, 12u);
    EXPECT_EQ(TYPE_IMAGE_LIST, 13u);
    EXPECT_EQ(TYPE_SET_PARAMETER, 14u);
    EXPECT_EQ(TYPE_TFT_TEXT_LINE, 15u);
    EXPECT_EQ(TYPE_BLACKOUT_SCREEN, 16u);
    EXPECT_EQ(TYPE_SET_LED_BUTTON_STATE, 17u);
    EXPECT_EQ(TYPE_TFT_SUB_TEXT_LINE, 18u);
    EXPECT_EQ(TYPE_DRAW_TFT_IMAGE, 19u);
    EXPECT_EQ(TYPE_SET_LED_STATUS_INDICATOR, 21u);
    EXPECT_EQ(TYPE_SET_LED_TOGGLE_INDICATOR, 22u);
}

TEST(KlmWire, sizes_follow_the_length_or_count_of_each_record) {
    EXPECT_EQ(size_KLM_UploadImage(), 132u);
    EXPECT_EQ(size_KLM_Reconfigure(), 8u);
    EXPECT_EQ(size_KLM_BlackoutScreen(), 8u);
    EXPECT_EQ(size_KLM_SetLEDButtonState(), 16u);
    EXPECT_EQ(size_KLM_SetLEDStatusIndicator(), 12u);
    EXPECT_EQ(size_KLM_SetLEDToggleIndicator(), 12u);
    EXPECT_EQ(size_KLM_SetButtonLEDs(), 12u);
    EXPECT_EQ(size_KLM_SetButtonLEDsBlink(), 24u);
    EXPECT_EQ(size_KLM_SetButtonImage(), 12u);
    EXPECT_EQ(size_KLM_SetOption(), 12u);
    EXPECT_EQ(size_KLM_SetParameter(), 12u);
    EXPECT_EQ(size_KLM_TextLine(1), 21u);
    EXPECT_EQ(size_KLM_SubTextLine(7), 39u);
    EXPECT_EQ(size_KLM_DrawTFTImage(54), 74u);
    EXPECT_EQ(size_KLM_SetButtonText(3), 19u);
    EXPECT_EQ(size_KLM_ImageList(0), 24u);
    EXPECT_EQ(size_KLM_ImageList(3), 36u);
}

TEST(KlmWire, every_record_swaps_exactly_its_32_bit_fields_and_round_trips) {
    for (const RecordKind& kind : allKinds()) {
        SCOPED_TRACE(kind.name);
        const Bytes host = patternedHostRecord(kind);
        Bytes wire = host;
        kind.hton(wire.data());
        for (size_t i = 0; i < host.size(); ++i) {
            size_t word = 0;
            if (isWordByte(kind, i, &word))
                EXPECT_EQ(wire[i], host[word + 3 - (i - word)]) << "byte " << i;
            else
                EXPECT_EQ(wire[i], host[i]) << "byte " << i;
        }
        Bytes back = wire;
        kind.ntoh(back.data());
        EXPECT_EQ(back, host);
        // hton reads the image list's count in host order: a second hton would read the
        // converted count, so only the other records convert twice.
        if (std::string(kind.name) != "ImageList") {
            Bytes twice = wire;
            kind.hton(twice.data());
            EXPECT_EQ(twice, host);
        }
    }
}

TEST(KlmWire, sub_text_line_carries_its_fields_and_text_at_their_offsets) {
    const char text[] = "AB";
    Bytes buffer(size_KLM_SubTextLine(sizeof text));
    KLM_SubTextLine head{};
    head._type = TYPE_TFT_SUB_TEXT_LINE;
    head._screen_id = 0xFFFFFFFFu;
    head._line_id = 2;
    head._offset = 3;
    head._num_chars = 4;
    head._text_colour = 0x123456;
    head._back_colour = 0xABCDEF;
    head._text_len = sizeof text;
    std::memcpy(buffer.data(), &head, sizeof head);
    std::memcpy(buffer.data() + sizeof head, text, sizeof text);
    auto* record = reinterpret_cast<KLM_SubTextLine*>(buffer.data());
    hton_KLM_SubTextLine(record, record);
    EXPECT_EQ(buffer,
              (Bytes{0, 0, 0, 18,   0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0, 2, 0, 0, 0,   3,   0, 0,
                     0, 4, 0, 0x12, 0x34, 0x56, 0,    0xAB, 0xCD, 0xEF, 0, 0, 0, 3, 'A', 'B', 0}));
}

TEST(KlmWire, blink_record_keeps_its_state_bytes_in_place) {
    KLM_SetButtonLEDsBlink record{};
    record._type = TYPE_SET_BUTTON_LEDS_BLINK;
    record._button_id = 7;
    record._state_a[0] = 1;
    record._state_a[1] = 2;
    record._state_a[2] = 3;
    record._time_a = 0x0100;
    record._state_b[0] = 4;
    record._state_b[1] = 5;
    record._state_b[2] = 6;
    record._time_b = 0x0200;
    hton_KLM_SetButtonLEDsBlink(&record, &record);
    EXPECT_EQ(bytesOf(&record, sizeof record),
              (Bytes{0, 0, 0, 11, 0, 0, 0, 7, 1, 2, 3, 0, 0, 0, 1, 0, 4, 5, 6, 0, 0, 0, 2, 0}));
}

TEST(KlmWire, empty_text_line_still_carries_its_zero_byte) {
    Bytes buffer(size_KLM_TextLine(1));
    KLM_TextLine head{};
    head._type = TYPE_TFT_TEXT_LINE;
    head._text_len = 1;
    std::memcpy(buffer.data(), &head, sizeof head);
    auto* record = reinterpret_cast<KLM_TextLine*>(buffer.data());
    hton_KLM_TextLine(record, record);
    EXPECT_EQ(buffer, (Bytes{0, 0, 0, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
}

// The record after the counted image numbers must stay untouched in both directions: hton
// counts with the host-order count, ntoh with the count it has just converted.
TEST(KlmWire, image_list_converts_as_many_image_numbers_as_its_host_order_count) {
    Bytes buffer(size_KLM_ImageList(3));
    KLM_ImageList head{};
    head._type = TYPE_IMAGE_LIST;
    head._button_id = 4;
    head._value_a = 0xA;
    head._value_b = 0xB;
    head._count = 2;
    std::memcpy(buffer.data(), &head, sizeof head);
    putHostWord(buffer, 24, 0x01020304);
    putHostWord(buffer, 28, 0x05060708);
    putHostWord(buffer, 32, 0x0A0B0C0D);  // beyond the count
    const Bytes host = buffer;
    auto* record = reinterpret_cast<KLM_ImageList*>(buffer.data());
    hton_KLM_ImageList(record, record);
    const Bytes wire(buffer.begin(), buffer.begin() + 32);
    EXPECT_EQ(wire, (Bytes{0, 0, 0, 13,  0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0xA,
                           0, 0, 0, 0xB, 0, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(std::equal(buffer.begin() + 32, buffer.end(), host.begin() + 32));
    ntoh_KLM_ImageList(record, record);
    EXPECT_EQ(buffer, host);
}

TEST(KlmWire, image_list_without_image_numbers_is_its_24_byte_fixed_part) {
    KLM_ImageList record{};
    record._type = TYPE_IMAGE_LIST;
    record._button_id = 1;
    hton_KLM_ImageList(&record, &record);
    EXPECT_EQ(bytesOf(&record, size_KLM_ImageList(0)),
              (Bytes{0, 0, 0, 13, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ntoh_KLM_ImageList(&record, &record);
    EXPECT_EQ(record._button_id, 1u);
}

TEST(KlmWire, converting_into_another_buffer_carries_the_text_along) {
    const char text[] = "xyz";
    Bytes host(size_KLM_SetButtonText(sizeof text));
    KLM_SetButtonText head{};
    head._type = TYPE_SET_BUTTON_TEXT;
    head._button_id = 9;
    head._text_param = 1;
    head._text_len = sizeof text;
    std::memcpy(host.data(), &head, sizeof head);
    std::memcpy(host.data() + sizeof head, text, sizeof text);
    Bytes wire(host.size());
    hton_KLM_SetButtonText(reinterpret_cast<KLM_SetButtonText*>(wire.data()),
                           reinterpret_cast<const KLM_SetButtonText*>(host.data()));
    EXPECT_EQ(wire, (Bytes{0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 4, 'x', 'y', 'z', 0}));
    Bytes back(host.size());
    ntoh_KLM_SetButtonText(reinterpret_cast<KLM_SetButtonText*>(back.data()),
                           reinterpret_cast<const KLM_SetButtonText*>(wire.data()));
    EXPECT_EQ(back, host);
}

// Records cut from a receive buffer need not be aligned for the converters.
TEST(KlmWire, converts_a_record_at_an_odd_address) {
    Bytes buffer(1 + size_KLM_SetLEDToggleIndicator());
    const Bytes wire = {0, 0, 0, 0x16, 0, 0, 0, 1, 0, 0, 0, 0};
    std::copy(wire.begin(), wire.end(), buffer.begin() + 1);
    auto* record = reinterpret_cast<KLM_SetLEDToggleIndicator*>(buffer.data() + 1);
    ntoh_KLM_SetLEDToggleIndicator(record, record);
    KLM_SetLEDToggleIndicator host{};
    std::memcpy(&host, buffer.data() + 1, sizeof host);
    EXPECT_EQ(host._type, static_cast<uint32_t>(TYPE_SET_LED_TOGGLE_INDICATOR));
    EXPECT_EQ(host._indicator_id, 1u);
    EXPECT_EQ(host._state, 0u);
}
