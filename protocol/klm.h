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

// Message type codes. Codes 1, 2, 3, 9, 20 and every code above 22 have no record.
enum KLM_MessageType : uint32_t {
    TYPE_NULL_MESSAGE = 0,              // no record: any bytes after the type
    TYPE_SET_BUTTON_LEDS = 4,           // KLM_SetButtonLEDs
    TYPE_SET_BUTTON_TEXT = 5,           // KLM_SetButtonText
    TYPE_UPLOAD_IMAGE = 6,              // KLM_UploadImage
    TYPE_SET_BUTTON_IMAGE = 7,          // KLM_SetButtonImage
    TYPE_SET_OPTION = 8,                // KLM_SetOption
    TYPE_RECONFIGURE = 10,              // KLM_Reconfigure
    TYPE_SET_BUTTON_LEDS_BLINK = 11,    // KLM_SetButtonLEDsBlink
    TYPE_QUERY = 12,                    // no record: the type field alone; answered with the value 1
    TYPE_IMAGE_LIST = 13,               // KLM_ImageList
    TYPE_SET_PARAMETER = 14,            // KLM_SetParameter
    TYPE_TFT_TEXT_LINE = 15,            // KLM_TextLine
    TYPE_BLACKOUT_SCREEN = 16,          // KLM_BlackoutScreen
    TYPE_SET_LED_BUTTON_STATE = 17,     // KLM_SetLEDButtonState
    TYPE_TFT_SUB_TEXT_LINE = 18,        // KLM_SubTextLine
    TYPE_DRAW_TFT_IMAGE = 19,           // KLM_DrawTFTImage
    TYPE_SET_LED_STATUS_INDICATOR = 21, // KLM_SetLEDStatusIndicator
    TYPE_SET_LED_TOGGLE_INDICATOR = 22, // KLM_SetLEDToggleIndicator
};

// Bytes of image data that one KLM_UploadImage carries.
constexpr uint32_t KLM_UPLOAD_IMAGE_BYTES = 120;

// Button id that addresses every button.
constexpr uint32_t KLM_ALL_BUTTONS = 0xFFFFFFFFu;

// Records whose last field is variable (text, data, image numbers) declare it as a trailing
// array without a bound: it adds nothing to the record's fixed size and lies exactly at the
// offset where the variable part starts on the wire.

// Type 6: one 120-byte image stored under an image number.
struct KLM_UploadImage {
    uint32_t _type;
    uint32_t _image_id;
    uint32_t _size;                          // image bytes; 120 where it is checked
    uint8_t _data[KLM_UPLOAD_IMAGE_BYTES];
};

// Type 10: reload the brightness levels.
struct KLM_Reconfigure {
    uint32_t _type;
    uint32_t _reserved;                      // always 0
};

// Type 15: one line of text on a button screen.
struct KLM_TextLine {
    uint32_t _type;
    uint32_t _screen_id;
    uint32_t _line_id;
    uint32_t _inverted;                      // 1: white on black, 0: black on white
    uint32_t _text_len;                      // text bytes including the zero
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
    uint32_t _button_id;                     // KLM_ALL_BUTTONS for every button
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
    uint32_t _text_len;                      // text bytes including the zero
    __extension__ char _text[];
};

// Type 19: a BMP file drawn at a position on a screen.
struct KLM_DrawTFTImage {
    uint32_t _type;
    uint32_t _screen_id;
    uint32_t _xoffset;
    uint32_t _yoffset;
    uint32_t _size;                          // image bytes that follow
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
    uint8_t _pad;                            // 0
};

// Type 11: three LED state values in two phases, each with its time.
struct KLM_SetButtonLEDsBlink {
    uint32_t _type;
    uint32_t _button_id;
    uint8_t _state_a[3];
    uint8_t _pad_a;                          // ignored
    uint32_t _time_a;
    uint8_t _state_b[3];
    uint8_t _pad_b;                          // ignored
    uint32_t _time_b;
};

// Type 5: a text for one button (or every button), with a 32-bit parameter.
struct KLM_SetButtonText {
    uint32_t _type;
    uint32_t _button_id;
    uint32_t _text_param;
    uint32_t _text_len;                      // text bytes including the zero
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
    uint32_t _reserved;                      // always 0
    uint32_t _value_a;
    uint32_t _value_b;
    uint32_t _count;                         // image numbers that follow
    __extension__ uint32_t _image_ids[];
};

// Type 14: two 32-bit values.
struct KLM_SetParameter {
    uint32_t _type;
    uint32_t _first;
    uint32_t _second;
};

// Record sizes in bytes. n is the record's own length or count field: text bytes including
// the zero, image bytes, or the number of image numbers. Pure arithmetic, nothing checked.
uint32_t size_KLM_UploadImage();
uint32_t size_KLM_Reconfigure();
uint32_t size_KLM_TextLine(uint32_t n);
uint32_t size_KLM_BlackoutScreen();
uint32_t size_KLM_SetLEDButtonState();
uint32_t size_KLM_SubTextLine(uint32_t n);
uint32_t size_KLM_DrawTFTImage(uint32_t n);
uint32_t size_KLM_SetLEDStatusIndicator();
uint32_t size_KLM_SetLEDToggleIndicator();
uint32_t size_KLM_SetButtonLEDs();
uint32_t size_KLM_SetButtonLEDsBlink();
uint32_t size_KLM_SetButtonText(uint32_t n);
uint32_t size_KLM_SetButtonImage();
uint32_t size_KLM_SetOption();
uint32_t size_KLM_ImageList(uint32_t n);
uint32_t size_KLM_SetParameter();

// Host to network order: every 32-bit field of the fixed part (the type included) and, for
// KLM_ImageList, each image number, bounded by the host-order count read before converting.
void hton_KLM_UploadImage(KLM_UploadImage* dst, const KLM_UploadImage* src);
void hton_KLM_Reconfigure(KLM_Reconfigure* dst, const KLM_Reconfigure* src);
void hton_KLM_TextLine(KLM_TextLine* dst, const KLM_TextLine* src);
void hton_KLM_BlackoutScreen(KLM_BlackoutScreen* dst, const KLM_BlackoutScreen* src);
void hton_KLM_SetLEDButtonState(KLM_SetLEDButtonState* dst, const KLM_SetLEDButtonState* src);
void hton_KLM_SubTextLine(KLM_SubTextLine* dst, const KLM_SubTextLine* src);
void hton_KLM_DrawTFTImage(KLM_DrawTFTImage* dst, const KLM_DrawTFTImage* src);
void hton_KLM_SetLEDStatusIndicator(KLM_SetLEDStatusIndicator* dst, const KLM_SetLEDStatusIndicator* src);
void hton_KLM_SetLEDToggleIndicator(KLM_SetLEDToggleIndicator* dst, const KLM_SetLEDToggleIndicator* src);
void hton_KLM_SetButtonLEDs(KLM_SetButtonLEDs* dst, const KLM_SetButtonLEDs* src);
void hton_KLM_SetButtonLEDsBlink(KLM_SetButtonLEDsBlink* dst, const KLM_SetButtonLEDsBlink* src);
void hton_KLM_SetButtonText(KLM_SetButtonText* dst, const KLM_SetButtonText* src);
void hton_KLM_SetButtonImage(KLM_SetButtonImage* dst, const KLM_SetButtonImage* src);
void hton_KLM_SetOption(KLM_SetOption* dst, const KLM_SetOption* src);
void hton_KLM_ImageList(KLM_ImageList* dst, const KLM_ImageList* src);
void hton_KLM_SetParameter(KLM_SetParameter* dst, const KLM_SetParameter* src);

// Network to host order: the same fields; KLM_ImageList's loop is bounded by the count as it
// reads after converting.
void ntoh_KLM_UploadImage(KLM_UploadImage* dst, const KLM_UploadImage* src);
void ntoh_KLM_Reconfigure(KLM_Reconfigure* dst, const KLM_Reconfigure* src);
void ntoh_KLM_TextLine(KLM_TextLine* dst, const KLM_TextLine* src);
void ntoh_KLM_BlackoutScreen(KLM_BlackoutScreen* dst, const KLM_BlackoutScreen* src);
void ntoh_KLM_SetLEDButtonState(KLM_SetLEDButtonState* dst, const KLM_SetLEDButtonState* src);
void ntoh_KLM_SubTextLine(KLM_SubTextLine* dst, const KLM_SubTextLine* src);
void ntoh_KLM_DrawTFTImage(KLM_DrawTFTImage* dst, const KLM_DrawTFTImage* src);
void ntoh_KLM_SetLEDStatusIndicator(KLM_SetLEDStatusIndicator* dst, const KLM_SetLEDStatusIndicator* src);
void ntoh_KLM_SetLEDToggleIndicator(KLM_SetLEDToggleIndicator* dst, const KLM_SetLEDToggleIndicator* src);
void ntoh_KLM_SetButtonLEDs(KLM_SetButtonLEDs* dst, const KLM_SetButtonLEDs* src);
void ntoh_KLM_SetButtonLEDsBlink(KLM_SetButtonLEDsBlink* dst, const KLM_SetButtonLEDsBlink* src);
void ntoh_KLM_SetButtonText(KLM_SetButtonText* dst, const KLM_SetButtonText* src);
void ntoh_KLM_SetButtonImage(KLM_SetButtonImage* dst, const KLM_SetButtonImage* src);
void ntoh_KLM_SetOption(KLM_SetOption* dst, const KLM_SetOption* src);
void ntoh_KLM_ImageList(KLM_ImageList* dst, const KLM_ImageList* src);
void ntoh_KLM_SetParameter(KLM_SetParameter* dst, const KLM_SetParameter* src);
