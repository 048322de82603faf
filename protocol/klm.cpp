#include "klm.h"

#include <arpa/inet.h>

#include <cstring>

// The wire layout is the contract with every client: these checks keep the records exactly as
// the peers lay them out, whatever the compiler does with padding.
#define KLM_AT(record, field, offset) static_assert(offsetof(record, field) == (offset), #record "::" #field)

static_assert(sizeof(KLM_UploadImage) == 132, "KLM_UploadImage");
KLM_AT(KLM_UploadImage, _image_id, 4);
KLM_AT(KLM_UploadImage, _size, 8);
KLM_AT(KLM_UploadImage, _data, 12);

static_assert(sizeof(KLM_Reconfigure) == 8, "KLM_Reconfigure");
KLM_AT(KLM_Reconfigure, _reserved, 4);

static_assert(sizeof(KLM_TextLine) == 20, "KLM_TextLine");
KLM_AT(KLM_TextLine, _screen_id, 4);
KLM_AT(KLM_TextLine, _line_id, 8);
KLM_AT(KLM_TextLine, _inverted, 12);
KLM_AT(KLM_TextLine, _text_len, 16);
KLM_AT(KLM_TextLine, _text, 20);

static_assert(sizeof(KLM_BlackoutScreen) == 8, "KLM_BlackoutScreen");
KLM_AT(KLM_BlackoutScreen, _screen_id, 4);

static_assert(sizeof(KLM_SetLEDButtonState) == 16, "KLM_SetLEDButtonState");
KLM_AT(KLM_SetLEDButtonState, _button_id, 4);
KLM_AT(KLM_SetLEDButtonState, _state, 8);
KLM_AT(KLM_SetLEDButtonState, _time, 12);

static_assert(sizeof(KLM_SubTextLine) == 32, "KLM_SubTextLine");
KLM_AT(KLM_SubTextLine, _screen_id, 4);
KLM_AT(KLM_SubTextLine, _line_id, 8);
KLM_AT(KLM_SubTextLine, _offset, 12);
KLM_AT(KLM_SubTextLine, _num_chars, 16);
KLM_AT(KLM_SubTextLine, _text_colour, 20);
KLM_AT(KLM_SubTextLine, _back_colour, 24);
KLM_AT(KLM_SubTextLine, _text_len, 28);
KLM_AT(KLM_SubTextLine, _text, 32);

static_assert(sizeof(KLM_DrawTFTImage) == 20, "KLM_DrawTFTImage");
KLM_AT(KLM_DrawTFTImage, _screen_id, 4);
KLM_AT(KLM_DrawTFTImage, _xoffset, 8);
KLM_AT(KLM_DrawTFTImage, _yoffset, 12);
KLM_AT(KLM_DrawTFTImage, _size, 16);
KLM_AT(KLM_DrawTFTImage, _data, 20);

static_assert(sizeof(KLM_SetLEDStatusIndicator) == 12, "KLM_SetLEDStatusIndicator");
KLM_AT(KLM_SetLEDStatusIndicator, _indicator_id, 4);
KLM_AT(KLM_SetLEDStatusIndicator, _state, 8);

static_assert(sizeof(KLM_SetLEDToggleIndicator) == 12, "KLM_SetLEDToggleIndicator");
KLM_AT(KLM_SetLEDToggleIndicator, _indicator_id, 4);
KLM_AT(KLM_SetLEDToggleIndicator, _state, 8);

static_assert(sizeof(KLM_SetButtonLEDs) == 12, "KLM_SetButtonLEDs");
KLM_AT(KLM_SetButtonLEDs, _button_id, 4);
KLM_AT(KLM_SetButtonLEDs, _state_a, 8);
KLM_AT(KLM_SetButtonLEDs, _pad, 11);

static_assert(sizeof(KLM_SetButtonLEDsBlink) == 24, "KLM_SetButtonLEDsBlink");
KLM_AT(KLM_SetButtonLEDsBlink, _button_id, 4);
KLM_AT(KLM_SetButtonLEDsBlink, _state_a, 8);
KLM_AT(KLM_SetButtonLEDsBlink, _pad_a, 11);
KLM_AT(KLM_SetButtonLEDsBlink, _time_a, 12);
KLM_AT(KLM_SetButtonLEDsBlink, _state_b, 16);
KLM_AT(KLM_SetButtonLEDsBlink, _pad_b, 19);
KLM_AT(KLM_SetButtonLEDsBlink, _time_b, 20);

static_assert(sizeof(KLM_SetButtonText) == 16, "KLM_SetButtonText");
KLM_AT(KLM_SetButtonText, _button_id, 4);
KLM_AT(KLM_SetButtonText, _text_param, 8);
KLM_AT(KLM_SetButtonText, _text_len, 12);
KLM_AT(KLM_SetButtonText, _text, 16);

static_assert(sizeof(KLM_SetButtonImage) == 12, "KLM_SetButtonImage");
KLM_AT(KLM_SetButtonImage, _button_id, 4);
KLM_AT(KLM_SetButtonImage, _image_id, 8);

static_assert(sizeof(KLM_SetOption) == 12, "KLM_SetOption");
KLM_AT(KLM_SetOption, _option, 4);
KLM_AT(KLM_SetOption, _value, 8);

static_assert(sizeof(KLM_ImageList) == 24, "KLM_ImageList");
KLM_AT(KLM_ImageList, _button_id, 4);
KLM_AT(KLM_ImageList, _reserved, 8);
KLM_AT(KLM_ImageList, _value_a, 12);
KLM_AT(KLM_ImageList, _value_b, 16);
KLM_AT(KLM_ImageList, _count, 20);
KLM_AT(KLM_ImageList, _image_ids, 24);

static_assert(sizeof(KLM_SetParameter) == 12, "KLM_SetParameter");
KLM_AT(KLM_SetParameter, _first, 4);
KLM_AT(KLM_SetParameter, _second, 8);

#undef KLM_AT

namespace {

// Words are moved with memcpy so that a record lying at any address in a receive buffer
// converts without an unaligned access.
uint32_t load_word(const void* record, size_t offset)
{
    uint32_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

void store_word(void* record, size_t offset, uint32_t value)
{
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}

// Byte order of `count` consecutive 32-bit words from `offset` on, in place. The swap is its
// own inverse, so both directions use it.
void swap_words(void* record, size_t offset, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const size_t at = offset + 4 * i;
        store_word(record, at, htonl(load_word(record, at)));
    }
}

// Converting from one buffer into another carries every byte over first; the word swaps then
// work on the destination alone.
void carry_over(void* dst, const void* src, size_t bytes)
{
    if (dst != src)
        std::memmove(dst, src, bytes);
}

// A record whose fixed part is all 32-bit words, followed by `tail` bytes of text or data.
void convert_words_and_tail(void* dst, const void* src, size_t fixed_size, size_t tail)
{
    carry_over(dst, src, fixed_size + tail);
    swap_words(dst, 0, fixed_size / 4);
}

// The length or count field of a record in network order, as a host number.
uint32_t network_field(const void* record, size_t offset)
{
    return ntohl(load_word(record, offset));
}

// The same field of a record in host order.
uint32_t host_field(const void* record, size_t offset)
{
    return load_word(record, offset);
}

// The 120 image bytes travel as they are: only the three words ahead of them are swapped.
void convert_upload_image(KLM_UploadImage* dst, const KLM_UploadImage* src)
{
    carry_over(dst, src, sizeof *src);
    swap_words(dst, 0, offsetof(KLM_UploadImage, _data) / 4);
}

void convert_button_leds(KLM_SetButtonLEDs* dst, const KLM_SetButtonLEDs* src)
{
    carry_over(dst, src, sizeof *src);
    swap_words(dst, offsetof(KLM_SetButtonLEDs, _type), 1);
    swap_words(dst, offsetof(KLM_SetButtonLEDs, _button_id), 1);
}

void convert_button_leds_blink(KLM_SetButtonLEDsBlink* dst, const KLM_SetButtonLEDsBlink* src)
{
    carry_over(dst, src, sizeof *src);
    swap_words(dst, offsetof(KLM_SetButtonLEDsBlink, _type), 1);
    swap_words(dst, offsetof(KLM_SetButtonLEDsBlink, _button_id), 1);
    swap_words(dst, offsetof(KLM_SetButtonLEDsBlink, _time_a), 1);
    swap_words(dst, offsetof(KLM_SetButtonLEDsBlink, _time_b), 1);
}

// `count` is the host-order number of image numbers, known before or after the fixed part
// is converted depending on the direction.
void convert_image_list(KLM_ImageList* dst, const KLM_ImageList* src, uint32_t count)
{
    carry_over(dst, src, size_KLM_ImageList(count));
    swap_words(dst, 0, sizeof(KLM_ImageList) / 4);
    swap_words(dst, offsetof(KLM_ImageList, _image_ids), count);
}

} // namespace

uint32_t size_KLM_UploadImage() { return static_cast<uint32_t>(sizeof(KLM_UploadImage)); }
uint32_t size_KLM_Reconfigure() { return static_cast<uint32_t>(sizeof(KLM_Reconfigure)); }
uint32_t size_KLM_TextLine(uint32_t n) { return static_cast<uint32_t>(sizeof(KLM_TextLine) + n); }
uint32_t size_KLM_BlackoutScreen() { return static_cast<uint32_t>(sizeof(KLM_BlackoutScreen)); }
uint32_t size_KLM_SetLEDButtonState() { return static_cast<uint32_t>(sizeof(KLM_SetLEDButtonState)); }
uint32_t size_KLM_SubTextLine(uint32_t n) { return static_cast<uint32_t>(sizeof(KLM_SubTextLine) + n); }
uint32_t size_KLM_DrawTFTImage(uint32_t n) { return static_cast<uint32_t>(sizeof(KLM_DrawTFTImage) + n); }
uint32_t size_KLM_SetLEDStatusIndicator() { return static_cast<uint32_t>(sizeof(KLM_SetLEDStatusIndicator)); }
uint32_t size_KLM_SetLEDToggleIndicator() { return static_cast<uint32_t>(sizeof(KLM_SetLEDToggleIndicator)); }
uint32_t size_KLM_SetButtonLEDs() { return static_cast<uint32_t>(sizeof(KLM_SetButtonLEDs)); }
uint32_t size_KLM_SetButtonLEDsBlink() { return static_cast<uint32_t>(sizeof(KLM_SetButtonLEDsBlink)); }
uint32_t size_KLM_SetButtonText(uint32_t n) { return static_cast<uint32_t>(sizeof(KLM_SetButtonText) + n); }
uint32_t size_KLM_SetButtonImage() { return static_cast<uint32_t>(sizeof(KLM_SetButtonImage)); }
uint32_t size_KLM_SetOption() { return static_cast<uint32_t>(sizeof(KLM_SetOption)); }
uint32_t size_KLM_ImageList(uint32_t n) { return static_cast<uint32_t>(sizeof(KLM_ImageList) + 4 * n); }
uint32_t size_KLM_SetParameter() { return static_cast<uint32_t>(sizeof(KLM_SetParameter)); }

void hton_KLM_UploadImage(KLM_UploadImage* dst, const KLM_UploadImage* src)
{
    convert_upload_image(dst, src);
}

void hton_KLM_Reconfigure(KLM_Reconfigure* dst, const KLM_Reconfigure* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_TextLine(KLM_TextLine* dst, const KLM_TextLine* src)
{
    convert_words_and_tail(dst, src, sizeof *src, host_field(src, offsetof(KLM_TextLine, _text_len)));
}

void hton_KLM_BlackoutScreen(KLM_BlackoutScreen* dst, const KLM_BlackoutScreen* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_SetLEDButtonState(KLM_SetLEDButtonState* dst, const KLM_SetLEDButtonState* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_SubTextLine(KLM_SubTextLine* dst, const KLM_SubTextLine* src)
{
    convert_words_and_tail(dst, src, sizeof *src, host_field(src, offsetof(KLM_SubTextLine, _text_len)));
}

void hton_KLM_DrawTFTImage(KLM_DrawTFTImage* dst, const KLM_DrawTFTImage* src)
{
    convert_words_and_tail(dst, src, sizeof *src, host_field(src, offsetof(KLM_DrawTFTImage, _size)));
}

void hton_KLM_SetLEDStatusIndicator(KLM_SetLEDStatusIndicator* dst, const KLM_SetLEDStatusIndicator* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_SetLEDToggleIndicator(KLM_SetLEDToggleIndicator* dst, const KLM_SetLEDToggleIndicator* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_SetButtonLEDs(KLM_SetButtonLEDs* dst, const KLM_SetButtonLEDs* src)
{
    convert_button_leds(dst, src);
}

void hton_KLM_SetButtonLEDsBlink(KLM_SetButtonLEDsBlink* dst, const KLM_SetButtonLEDsBlink* src)
{
    convert_button_leds_blink(dst, src);
}

void hton_KLM_SetButtonText(KLM_SetButtonText* dst, const KLM_SetButtonText* src)
{
    convert_words_and_tail(dst, src, sizeof *src, host_field(src, offsetof(KLM_SetButtonText, _text_len)));
}

void hton_KLM_SetButtonImage(KLM_SetButtonImage* dst, const KLM_SetButtonImage* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_SetOption(KLM_SetOption* dst, const KLM_SetOption* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void hton_KLM_ImageList(KLM_ImageList* dst, const KLM_ImageList* src)
{
    convert_image_list(dst, src, host_field(src, offsetof(KLM_ImageList, _count)));
}

void hton_KLM_SetParameter(KLM_SetParameter* dst, const KLM_SetParameter* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_UploadImage(KLM_UploadImage* dst, const KLM_UploadImage* src)
{
    convert_upload_image(dst, src);
}

void ntoh_KLM_Reconfigure(KLM_Reconfigure* dst, const KLM_Reconfigure* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_TextLine(KLM_TextLine* dst, const KLM_TextLine* src)
{
    convert_words_and_tail(dst, src, sizeof *src, network_field(src, offsetof(KLM_TextLine, _text_len)));
}

void ntoh_KLM_BlackoutScreen(KLM_BlackoutScreen* dst, const KLM_BlackoutScreen* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_SetLEDButtonState(KLM_SetLEDButtonState* dst, const KLM_SetLEDButtonState* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_SubTextLine(KLM_SubTextLine* dst, const KLM_SubTextLine* src)
{
    convert_words_and_tail(dst, src, sizeof *src, network_field(src, offsetof(KLM_SubTextLine, _text_len)));
}

void ntoh_KLM_DrawTFTImage(KLM_DrawTFTImage* dst, const KLM_DrawTFTImage* src)
{
    convert_words_and_tail(dst, src, sizeof *src, network_field(src, offsetof(KLM_DrawTFTImage, _size)));
}

void ntoh_KLM_SetLEDStatusIndicator(KLM_SetLEDStatusIndicator* dst, const KLM_SetLEDStatusIndicator* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_SetLEDToggleIndicator(KLM_SetLEDToggleIndicator* dst, const KLM_SetLEDToggleIndicator* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_SetButtonLEDs(KLM_SetButtonLEDs* dst, const KLM_SetButtonLEDs* src)
{
    convert_button_leds(dst, src);
}

void ntoh_KLM_SetButtonLEDsBlink(KLM_SetButtonLEDsBlink* dst, const KLM_SetButtonLEDsBlink* src)
{
    convert_button_leds_blink(dst, src);
}

void ntoh_KLM_SetButtonText(KLM_SetButtonText* dst, const KLM_SetButtonText* src)
{
    convert_words_and_tail(dst, src, sizeof *src, network_field(src, offsetof(KLM_SetButtonText, _text_len)));
}

void ntoh_KLM_SetButtonImage(KLM_SetButtonImage* dst, const KLM_SetButtonImage* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_SetOption(KLM_SetOption* dst, const KLM_SetOption* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}

void ntoh_KLM_ImageList(KLM_ImageList* dst, const KLM_ImageList* src)
{
    convert_image_list(dst, src, network_field(src, offsetof(KLM_ImageList, _count)));
}

void ntoh_KLM_SetParameter(KLM_SetParameter* dst, const KLM_SetParameter* src)
{
    convert_words_and_tail(dst, src, sizeof *src, 0);
}
