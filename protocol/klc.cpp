#include "klc.h"

#include "klm.h"
#include "klmframe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int CACHED_BUTTONS = 300;
constexpr size_t HOST_BYTES = 256;
constexpr size_t CACHED_TEXT_BYTES = 100;
constexpr double RECONNECT_PAUSE_MS = 1000.0;
constexpr int ALL_BUTTONS = -1;

// What was last sent for one button. The zero state counts as sent: before the first
// connect an image 0, or an empty text with parameter 0, is taken for a repeat.
struct CacheEntry {
    uint8_t _valid;  // the LED values below were sent
    uint8_t
        _states[6];  // _state_a[0], _state_b[0], _state_a[1], _state_b[1], _state_a[2], _state_b[2]
    uint8_t _pad;
    uint32_t _time_a;
    uint32_t _time_b;
    char _text[CACHED_TEXT_BYTES];
    uint32_t _text_param;
    int32_t _image_id;  // -1: none
    // The last text did not fit `_text`, or what was cached could not be sent: no text or
    // image is a repeat until the next one goes out.
    bool _text_unknown;
    bool _image_unknown;
};

int sock = -1;
int port = 3003;
char host[HOST_BYTES] = "127.0.0.1";
int connected = 0;
int verbose = 0;
double last_attempt = 0.0;
CacheEntry cache[CACHED_BUTTONS];
double (*time_source)() = nullptr;

double time_of_day_ms() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_usec) * 0.001;
}

// printf's %f would write the decimal point of the caller's LC_NUMERIC, a comma in many
// locales; to_chars writes '.' whatever the locale.
std::string two_decimals(double value) {
    char text[std::numeric_limits<double>::max_exponent10 + 8];
    const std::to_chars_result written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    return std::string(text, written.ptr);
}

double now_ms() {
    return time_source != nullptr ? time_source() : time_of_day_ms();
}

void reset_cache() {
    for (CacheEntry& entry : cache) {
        entry = CacheEntry{};
        entry._image_id = -1;
    }
}

// A message that could not be sent must not make its repeat look already delivered.
void forget(CacheEntry& entry) {
    entry._valid = 0;
    entry._text_unknown = true;
    entry._image_unknown = true;
}

int send_record(const std::vector<uint8_t>& record) {
    return klc_send(record.data(), static_cast<int>(record.size()));
}

bool is_cached(int button_id) {
    return button_id >= 0 && button_id < CACHED_BUTTONS;
}

// Sends a record for a button and forgets what the cache holds for it when that fails.
int send_for_button(int button_id, const std::vector<uint8_t>& record) {
    const int sent = send_record(record);
    if (sent == 0) {
        if (is_cached(button_id))
            forget(cache[button_id]);
        else if (button_id == ALL_BUTTONS)
            for (CacheEntry& entry : cache)
                forget(entry);
    }
    return sent;
}

void store_first_phase(CacheEntry& entry, uint8_t a0, uint8_t a1, uint8_t a2) {
    entry._valid = 1;
    entry._states[0] = a0;
    entry._states[2] = a1;
    entry._states[4] = a2;
}

void store_text(CacheEntry& entry, const char* text, uint32_t text_param) {
    const size_t length = strlen(text);
    entry._text_unknown = length >= CACHED_TEXT_BYTES;
    if (entry._text_unknown)
        entry._text[0] = '\0';
    else
        memcpy(entry._text, text, length + 1);
    entry._text_param = text_param;
    entry._image_id = -1;
    entry._image_unknown = false;
}

bool is_text_repeat(const CacheEntry& entry, const char* text, uint32_t text_param) {
    return !entry._text_unknown && strlen(text) < CACHED_TEXT_BYTES &&
           strcmp(entry._text, text) == 0 && entry._text_param == text_param;
}

void store_image(CacheEntry& entry, int image_id) {
    entry._image_id = image_id;
    entry._image_unknown = false;
}

// An LED record of one button with its type and its first (or only) three state values.
template <typename Record>
Record first_phase_record(int button_id, uint8_t a0, uint8_t a1, uint8_t a2) {
    Record record{};
    record._type = KlmRecordTraits<Record>::LAYOUT.type;
    record._button_id = static_cast<uint32_t>(button_id);
    record._state_a[0] = a0;
    record._state_a[1] = a1;
    record._state_a[2] = a2;
    return record;
}

int send_option(uint32_t option, uint32_t value) {
    return send_record(klm_record_of<KLM_SetOption>(option, value));
}

void close_socket() {
    connected = 0;
    if (sock != -1)
        close(sock);
    sock = -1;
}

}  // namespace

int klc_connect_to(const char* new_host, int new_port) {
    if (strnlen(new_host, HOST_BYTES) >= HOST_BYTES) {
        printf("klc refused host name of %zu characters, at most %zu\n", strlen(new_host),
               HOST_BYTES - 1);
        return 0;
    }
    memcpy(host, new_host, strlen(new_host) + 1);
    port = new_port;
    return klc_connect();
}

int klc_connect() {
    if (sock == -1)
        sock = socket(AF_INET, SOCK_STREAM, 0);
    if (connected == 1)
        return 1;
    const double now = now_ms();
    const double elapsed = now - last_attempt;
    if (elapsed < RECONNECT_PAUSE_MS) {
        if (verbose)
            printf("connect later, since last attempt elapsed only %s ms\n",
                   two_decimals(elapsed).c_str());
        return 0;
    }
    last_attempt = now;
    if (verbose)
        printf("try to connect to %s:%d\n", host, port);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = inet_addr(host);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        if (verbose)
            printf("klc failed to connect to server %s:%d\n", host, port);
        return 0;
    }
    connected = 1;
    if (verbose)
        printf("klc connected to server %s:%d\n", host, port);
    reset_cache();
    return 1;
}

void klc_close() {
    close_socket();
}

int klc_send(const void* record, int length) {
    if (!connected && klc_connect() == 0) {
        if (verbose)
            puts(" could not connect");
        return 0;
    }
    if (sock == -1) {
        if (verbose)
            puts("invalid socket");
        return 0;
    }
    std::vector<uint8_t> frame;
    klm_append_frame(frame, record, static_cast<size_t>(length));
    const ssize_t total = send(sock, frame.data(), frame.size(), MSG_NOSIGNAL);
    if (total != static_cast<ssize_t>(frame.size())) {
        if (verbose)
            printf("send failed %d\n", static_cast<int>(total));
        close_socket();
        // What the cache holds went to a connection that is gone: repeats of it must reach
        // whichever server the next connection finds.
        reset_cache();
        return 0;
    }
    return 1;
}

int klc_set_button_leds(int button_id, uint8_t a0, uint8_t a1, uint8_t a2) {
    if (is_cached(button_id)) {
        CacheEntry& entry = cache[button_id];
        if (entry._valid && entry._states[0] == a0 && entry._states[2] == a1 &&
            entry._states[4] == a2 && entry._time_b == 0)
            return 0;
        store_first_phase(entry, a0, a1, a2);
        entry._time_b = 0;
    } else if (button_id == ALL_BUTTONS) {
        for (CacheEntry& entry : cache) {
            store_first_phase(entry, a0, a1, a2);
            entry._time_b = 0;
        }
    }
    return send_for_button(
        button_id, klm_record(first_phase_record<KLM_SetButtonLEDs>(button_id, a0, a1, a2)));
}

int klc_set_button_leds_blink(int button_id, uint8_t a0, uint8_t a1, uint8_t a2, int time_a,
                              uint8_t b0, uint8_t b1, uint8_t b2, int time_b) {
    const uint8_t states[6] = {a0, b0, a1, b1, a2, b2};
    const uint32_t ta = static_cast<uint32_t>(time_a);
    const uint32_t tb = static_cast<uint32_t>(time_b);
    auto store = [&](CacheEntry& entry) {
        entry._valid = 1;
        memcpy(entry._states, states, sizeof states);
        entry._time_a = ta;
        entry._time_b = tb;
    };
    if (is_cached(button_id)) {
        CacheEntry& entry = cache[button_id];
        if (entry._valid && memcmp(entry._states, states, sizeof states) == 0 &&
            entry._time_a == ta && entry._time_b == tb)
            return 0;
        store(entry);
    } else if (button_id == ALL_BUTTONS) {
        for (CacheEntry& entry : cache)
            store(entry);
    }
    auto record = first_phase_record<KLM_SetButtonLEDsBlink>(button_id, a0, a1, a2);
    record._time_a = ta;
    record._state_b[0] = b0;
    record._state_b[1] = b1;
    record._state_b[2] = b2;
    record._time_b = tb;
    return send_for_button(button_id, klm_record(record));
}

int klc_set_button_text(int button_id, const char* text, int text_param) {
    const uint32_t param = static_cast<uint32_t>(text_param);
    if (is_cached(button_id)) {
        CacheEntry& entry = cache[button_id];
        if (is_text_repeat(entry, text, param))
            return 0;
        store_text(entry, text, param);
    } else if (button_id == ALL_BUTTONS) {
        for (CacheEntry& entry : cache)
            store_text(entry, text, param);
    }
    const uint32_t text_len = static_cast<uint32_t>(strlen(text) + 1);
    return send_for_button(
        button_id, klm_tailed_record_of<KLM_SetButtonText>(text, text_len, button_id, param));
}

int klc_upload_image(int image_id, const void* data, int size) {
    for (CacheEntry& entry : cache)
        if (entry._image_id == image_id)
            entry._image_id = -1;
    if (size != static_cast<int>(KLM_UPLOAD_IMAGE_BYTES)) {
        printf("wrong image data size %d, must be 120\n", size);
        return 0;
    }
    KLM_UploadImage record{};
    record._type = TYPE_UPLOAD_IMAGE;
    record._image_id = image_id;
    record._size = static_cast<uint32_t>(size);
    memcpy(record._data, data, KLM_UPLOAD_IMAGE_BYTES);
    return send_record(klm_record(record));
}

int klc_set_button_image(int button_id, int image_id) {
    if (is_cached(button_id)) {
        CacheEntry& entry = cache[button_id];
        if (!entry._image_unknown && entry._image_id == image_id)
            return 0;
        store_image(entry, image_id);
    } else if (button_id == ALL_BUTTONS) {
        for (CacheEntry& entry : cache) {
            store_image(entry, image_id);
            entry._text[0] = '\0';
            entry._text_unknown = false;
        }
    }
    return send_for_button(button_id, klm_record_of<KLM_SetButtonImage>(button_id, image_id));
}

int klc_set_parameter(int first, int second) {
    return send_record(klm_record_of<KLM_SetParameter>(first, second));
}

int klc_option_off() {
    return send_option(8, 0);
}

int klc_verbose_on() {
    verbose = 1;
    return send_option(9, 1);
}

int klc_reconfigure() {
    return send_record(klm_record_of<KLM_Reconfigure>(0));
}

void klc_set_time_source(double (*source)()) {
    time_source = source;
}
