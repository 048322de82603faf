// Plain-socket connector to keylight: free functions over one BSD socket per process.
//
// Every operation returns 1 when its message was sent and 0 otherwise: not connected,
// dropped as a repeat of what was last sent for that button, refused, or failed. Diagnostics
// go to standard output, tagged "klc", and only after klc_verbose_on (except the refusals of
// a wrong image size and of an over-long host name, which are always printed).
//
// The connection is made by the first send, or by klc_connect_to. After a failed connect the
// next attempt waits until 1000 ms have passed since the last one, whatever the caller does;
// after a failed send the next send starts over with a new socket. A successful connect
// forgets everything cached, and so does a failed send, so the first message for a button
// after a reconnection is always sent. A message that could not be sent is forgotten too: sending
// it again is never taken for a repeat.
//
// Button ids 0..299 are cached; -1 addresses every button and updates every entry without a
// repeat test; any other id is sent without touching the cache. One thread at a time.
#pragma once

#include <cstdint>

// Sets the server address (dotted IPv4) and port, then connects. A host of 256 characters or
// more is refused with a line on standard output and result 0, leaving the address as it was.
// While connected the new address takes effect only once the connection is lost.
int klc_connect_to(const char* host, int port);
// Connects unless connected; 1 when connected.
int klc_connect();
// Sends one frame: the 4-byte big-endian length, then `length` bytes of record (network order).
int klc_send(const void* record, int length);
// Closes the connection, if any; the next send connects again (after the throttle).
void klc_close();

int klc_set_button_leds(int button_id, uint8_t state_a0, uint8_t state_a1, uint8_t state_a2);
int klc_set_button_leds_blink(int button_id, uint8_t state_a0, uint8_t state_a1, uint8_t state_a2,
                              int time_a, uint8_t state_b0, uint8_t state_b1, uint8_t state_b2,
                              int time_b);
// text is zero-terminated; it is sent whole, whatever its length.
int klc_set_button_text(int button_id, const char* text, int text_param);
// Refuses any size but 120. Buttons that show image_id no longer count it as a repeat.
int klc_upload_image(int image_id, const void* data, int size);
int klc_set_button_image(int button_id, int image_id);
int klc_set_parameter(int first, int second);
// Option 8, value 0.
int klc_option_off();
// Turns the log lines on, then sends option 9, value 1.
int klc_verbose_on();
int klc_reconfigure();

// Where the throttle reads the time in milliseconds; nullptr restores the time of day.
void klc_set_time_source(double (*now_ms)());
