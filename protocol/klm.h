// Message records of the keylight control protocol and their byte-order codec.
//
// On the TCP stream every message is a frame: a 32-bit big-endian length that does not count
// itself, then that many bytes of one record. Every record starts with its 32-bit message type.
// All multi-byte fields are 32-bit, on offsets that are multiples of 4; they travel big-endian
// and are held in host order in memory. 8-bit fields, text and image bytes travel as they are.
// Text fields hold ASCII text and its terminating zero byte; text lengths count that zero.
//
// A sender fills a record in host order, calls hton_KLM_<Name> once and sends the frame; a
// receiver calls ntoh_KLM_<Name> once on the record bytes of a frame and reads the fields.
// The converters take the destination record first and the source record second; both may
// be the same record (the usual case, conversion in place). When they differ, the text, data
// or image numbers that follow the fixed part are carried over to the destination as well.
// The converters touch the record bytes only through byte copies, so a record need not be
// aligned for them; reading its fields directly needs 4-byte alignment.
//
// The codec checks nothing and reports nothing: a wrong length or count is converted like any
// other value, and no size is compared with the frame length. It holds no state.
#pragma once

#include <cstddef>
#include <cstdint>

// Every record once, one row each: its name (the struct is KLM_<Name>), its type, the type's
// code, the bytes of its fixed part, and what of it travels big-endian. FIXED records have one
// size; their 32-bit fields are KLM_ALL_WORDS (every 4 bytes of the record), or the words
// before a byte field (KLM_WORDS_TO) and single words (KLM_WORD). TAILED records are followed
// by a variable part: the row names the field that counts it and what it holds; their fixed
// part is all 32-bit words. The type enumeration, the size functions, the converters and every
// table that checks or lists records are made from these rows. A field in a column is one of
// `Record`, the row's struct.
// clang-format off
#define KLM_RECORDS(FIXED, TAILED)                                                                 \
    FIXED(UploadImage,           TYPE_UPLOAD_IMAGE,             6,  132, KLM_WORDS_TO(_data))      \
    FIXED(Reconfigure,           TYPE_RECONFIGURE,              10, 8,   KLM_ALL_WORDS)            \
    TAILED(TextLine,             TYPE_TFT_TEXT_LINE,            15, 20,  _text_len, KlmTail::TEXT) \
    FIXED(BlackoutScreen,        TYPE_BLACKOUT_SCREEN,          16, 8,   KLM_ALL_WORDS)            \
    FIXED(SetLEDButtonState,     TYPE_SET_LED_BUTTON_STATE,     17, 16,  KLM_ALL_WORDS)            \
    TAILED(SubTextLine,          TYPE_TFT_SUB_TEXT_LINE,        18, 32,  _text_len, KlmTail::TEXT) \
    TAILED(DrawTFTImage,         TYPE_DRAW_TFT_IMAGE,           19, 20,  _size, KlmTail::BYTES)    \
    FIXED(SetLEDStatusIndicator, TYPE_SET_LED_STATUS_INDICATOR, 21, 12,  KLM_ALL_WORDS)            \
    FIXED(SetLEDToggleIndicator, TYPE_SET_LED_TOGGLE_INDICATOR, 22, 12,  KLM_ALL_WORDS)            \
    FIXED(SetButtonLEDs,         TYPE_SET_BUTTON_LEDS,          4,  12,  KLM_WORDS_TO(_state_a))   \
    FIXED(SetButtonLEDsBlink,    TYPE_SET_BUTTON_LEDS_BLINK,    11, 24,  KLM_WORDS_TO(_state_a) |  \
        KLM_WORD(_time_a) | KLM_WORD(_time_b))                                                     \
    TAILED(SetButtonText,        TYPE_SET_BUTTON_TEXT,          5,  16,  _text_len, KlmTail::TEXT) \
    FIXED(SetButtonImage,        TYPE_SET_BUTTON_IMAGE,         7,  12,  KLM_ALL_WORDS)            \
    FIXED(SetOption,             TYPE_SET_OPTION,               8,  12,  KLM_ALL_WORDS)            \
    TAILED(ImageList,            TYPE_IMAGE_LIST,               13, 24,  _count, KlmTail::WORDS)   \
    FIXED(SetParameter,          TYPE_SET_PARAMETER,            14, 12,  KLM_ALL_WORDS)
// clang-format on

// Message type codes. Codes 1, 2, 3, 9, 20 and every code above 22 have no record.
#define KLM_TYPE_CODE(Name, type, code, ...) type = code,
enum KLM_MessageType : uint32_t {
    TYPE_NULL_MESSAGE = 0,  // no record: any bytes after the type
    TYPE_QUERY = 12,        // no record: the type field alone; answered with the value 1
    KLM_RECORDS(KLM_TYPE_CODE, KLM_TYPE_CODE)
};
#undef KLM_TYPE_CODE

// A button image: 24 rows of 5 bytes, of which pixels 0 to 35 of a row show; the most
// significant bit of a byte is the leftmost pixel. One KLM_UploadImage carries one image.
constexpr int KLM_BUTTON_IMAGE_WIDTH = 36;
constexpr int KLM_BUTTON_IMAGE_HEIGHT = 24;
constexpr int KLM_BUTTON_IMAGE_ROW_BYTES = 5;
constexpr uint32_t KLM_UPLOAD_IMAGE_BYTES = KLM_BUTTON_IMAGE_HEIGHT * KLM_BUTTON_IMAGE_ROW_BYTES;

// Button id that addresses every button.
constexpr uint32_t KLM_ALL_BUTTONS = 0xFFFFFFFFu;

// Records whose last field is variable (text, data, image numbers) declare it as a trailing
// array without a bound: it adds nothing to the record's fixed size and lies exactly at the
// offset where the variable part starts on the wire.

// Type 6: one 120-byte image stored under an image number.
struct KLM_UploadImage {
    uint32_t _type;
    uint32_t _image_id;
    uint32_t _size;  // image bytes; 120 where it is checked
    uint8_t _data[KLM_UPLOAD_IMAGE_BYTES];
};

// Type 10: reload the brightness levels.
struct KLM_Reconfigure {
    uint32_t _type;
    uint32_t _reserved;  // always 0
};

// Type 15: one line of text on a button screen.
struct KLM_TextLine {
    uint32_t _type;
    uint32_t _screen_id;
    uint32_t _line_id;
    uint32_t _inverted;  // 1: white on black, 0: black on white
    uint32_t _text_len;  // text bytes including the zero
    __extension__ char _text[];
};

// Type 16: clear one screen.
struct KLM_BlackoutScreen {
    uint32_t _type;
    uint32_t _screen_id;
};

// Type 17: LED state of one button (or every button) with its blink time.
struct KLM_SetLEDButtonState {
    uint32_t _type;
    uint32_t _button_id;  // KLM_ALL_BUTTONS for every button
    uint32_t _state;
    uint32_t _time;
};

// Type 18: part of a text line, with colours (0xRRGGBB).
struct KLM_SubTextLine {
    uint32_t _type;
    uint32_t _screen_id;
    uint32_t _line_id;
    uint32_t _offset;
    uint32_t _num_chars;
    uint32_t _text_colour;
    uint32_t _back_colour;
    uint32_t _text_len;  // text bytes including the zero
    __extension__ char _text[];
};

// Type 19: a BMP file drawn at a position on a screen.
struct KLM_DrawTFTImage {
    uint32_t _type;
    uint32_t _screen_id;
    uint32_t _xoffset;
    uint32_t _yoffset;
    uint32_t _size;  // image bytes that follow
    __extension__ uint8_t _data[];
};

// Type 21: one status indicator on or off.
struct KLM_SetLEDStatusIndicator {
    uint32_t _type;
    uint32_t _indicator_id;
    uint32_t _state;
};

// Type 22: one toggle indicator on or off.
struct KLM_SetLEDToggleIndicator {
    uint32_t _type;
    uint32_t _indicator_id;
    uint32_t _state;
};

// Type 4: three steady LED state values of one button (or every button).
struct KLM_SetButtonLEDs {
    uint32_t _type;
    uint32_t _button_id;
    uint8_t _state_a[3];
    uint8_t _pad;  // 0
};

// Type 11: three LED state values in two phases, each with its time.
struct KLM_SetButtonLEDsBlink {
    uint32_t _type;
    uint32_t _button_id;
    uint8_t _state_a[3];
    uint8_t _pad_a;  // ignored
    uint32_t _time_a;
    uint8_t _state_b[3];
    uint8_t _pad_b;  // ignored
    uint32_t _time_b;
};

// Type 5: a text for one button (or every button), with a 32-bit parameter.
struct KLM_SetButtonText {
    uint32_t _type;
    uint32_t _button_id;
    uint32_t _text_param;
    uint32_t _text_len;  // text bytes including the zero
    __extension__ char _text[];
};

// Type 7: show an uploaded image on one button (or every button).
struct KLM_SetButtonImage {
    uint32_t _type;
    uint32_t _button_id;
    uint32_t _image_id;
};

// Type 8: one option value.
struct KLM_SetOption {
    uint32_t _type;
    uint32_t _option;
    uint32_t _value;
};

// Type 13: a list of image numbers for one button.
struct KLM_ImageList {
    uint32_t _type;
    uint32_t _button_id;
    uint32_t _reserved;  // always 0
    uint32_t _value_a;
    uint32_t _value_b;
    uint32_t _count;  // image numbers that follow
    __extension__ uint32_t _image_ids[];
};

// Type 14: two 32-bit values.
struct KLM_SetParameter {
    uint32_t _type;
    uint32_t _first;
    uint32_t _second;
};

// What follows the fixed part of a record.
enum class KlmTail : uint8_t {
    NONE,   // nothing: the record has one size
    TEXT,   // text and its zero byte, counted in bytes
    BYTES,  // bytes that travel as they are
    WORDS,  // 32-bit numbers, counted in numbers, each travelling big-endian
};

// One record's layout as data, for code that handles records of every type alike.
struct KlmRecordLayout {
    const char* name;       // "TextLine" for KLM_TextLine
    uint32_t type;          // its KLM_MessageType
    uint32_t fixed_size;    // bytes of the fixed part
    uint32_t count_offset;  // offset of the length or count field; 0 when tail is NONE
    KlmTail tail;
    uint64_t words;  // bit i set: the 4 bytes at offset 4 * i travel big-endian

    // Bytes of the variable part per unit of its length or count field.
    constexpr uint32_t unit_size() const { return tail == KlmTail::WORDS ? 4 : 1; }
};

constexpr uint64_t klm_word(size_t offset) {
    return uint64_t{1} << (offset / 4);
}
// Every 32-bit word before `offset`.
constexpr uint64_t klm_words_to(size_t offset) {
    return klm_word(offset) - 1;
}

// The columns of KLM_RECORDS, where `Record` is the row's struct.
#define KLM_ALL_WORDS klm_words_to(sizeof(Record))
#define KLM_WORDS_TO(field) klm_words_to(offsetof(Record, field))
#define KLM_WORD(field) klm_word(offsetof(Record, field))

// KlmRecordTraits<KLM_<Name>>::LAYOUT is the layout of that record.
template <typename Record>
struct KlmRecordTraits;

// The wire layout is the contract with every client: the size check keeps each struct exactly
// as the peers lay the record out, whatever the compiler does with padding.
#define KLM_TRAITS(Name, type, size, count_offset, tail, words)                                   \
    template <>                                                                                   \
    struct KlmRecordTraits<KLM_##Name> {                                                          \
        using Record = KLM_##Name;                                                                \
        static_assert(sizeof(Record) == (size), "KLM_" #Name " differs from the wire");           \
        static constexpr KlmRecordLayout LAYOUT = {#Name, type, size, count_offset, tail, words}; \
    };
#define KLM_FIXED_TRAITS(Name, type, code, size, words) \
    KLM_TRAITS(Name, type, size, 0, KlmTail::NONE, words)
#define KLM_TAILED_TRAITS(Name, type, code, size, count, tail) \
    KLM_TRAITS(Name, type, size, offsetof(Record, count), tail, KLM_ALL_WORDS)
KLM_RECORDS(KLM_FIXED_TRAITS, KLM_TAILED_TRAITS)
#undef KLM_TAILED_TRAITS
#undef KLM_FIXED_TRAITS
#undef KLM_TRAITS

// Every record's layout, in the order of KLM_RECORDS.
#define KLM_LAYOUT_OF(Name, ...) KlmRecordTraits<KLM_##Name>::LAYOUT,
inline constexpr KlmRecordLayout KLM_RECORD_LAYOUTS[] = {KLM_RECORDS(KLM_LAYOUT_OF, KLM_LAYOUT_OF)};
#undef KLM_LAYOUT_OF

// The layout of the record of type `type`; nullptr for a type without a record.
constexpr const KlmRecordLayout* klm_record_layout(uint32_t type) {
    for (const KlmRecordLayout& layout : KLM_RECORD_LAYOUTS) {
        if (layout.type == type) {
            return &layout;
        }
    }
    return nullptr;
}

// The operations on any record by its layout; the named ones below are these for one record.
// Sizes are pure arithmetic, and nothing is checked: n is the record's own length or count
// field (text bytes including the zero, image bytes, or the number of image numbers).
uint32_t klm_size(const KlmRecordLayout& layout, uint32_t n);
// Host to network order: the 32-bit fields of the fixed part and, for a tail of WORDS, each
// number, bounded by the host-order count read before converting.
void klm_hton(const KlmRecordLayout& layout, void* dst, const void* src);
// Network to host order: the same fields; the tail is bounded by the count as it reads after
// converting.
void klm_ntoh(const KlmRecordLayout& layout, void* dst, const void* src);

// For each record KLM_<Name>:
//   uint32_t size_KLM_<Name>() (FIXED) or size_KLM_<Name>(uint32_t n) (TAILED): its size;
//   void hton_KLM_<Name>(KLM_<Name>* dst, const KLM_<Name>* src) and ntoh_KLM_<Name>(...).
#define KLM_CONVERTERS(Name)                                      \
    void hton_KLM_##Name(KLM_##Name* dst, const KLM_##Name* src); \
    void ntoh_KLM_##Name(KLM_##Name* dst, const KLM_##Name* src);
#define KLM_DECLARE_FIXED(Name, ...) \
    uint32_t size_KLM_##Name();      \
    KLM_CONVERTERS(Name)
#define KLM_DECLARE_TAILED(Name, ...)     \
    uint32_t size_KLM_##Name(uint32_t n); \
    KLM_CONVERTERS(Name)
KLM_RECORDS(KLM_DECLARE_FIXED, KLM_DECLARE_TAILED)
#undef KLM_DECLARE_TAILED
#undef KLM_DECLARE_FIXED
#undef KLM_CONVERTERS
