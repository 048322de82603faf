"""Frames of keylight's TCP control protocol, packed with struct, for scripts and system tests.

Each record is its 32-bit big-endian type followed by its fields; a frame is the record's
length as a 32-bit big-endian number, then the record. Text fields carry their zero byte and
the text length counts it. Values are masked to 32 bits, so -1 (every button, blink) packs
as 0xFFFFFFFF.
"""

import socket
import struct
import time

TYPE_RECONFIGURE = 10
TYPE_QUERY = 12
TYPE_TFT_TEXT_LINE = 15
TYPE_BLACKOUT_SCREEN = 16
TYPE_SET_LED_BUTTON_STATE = 17
TYPE_TFT_SUB_TEXT_LINE = 18
TYPE_DRAW_TFT_IMAGE = 19
TYPE_SET_LED_STATUS_INDICATOR = 21
TYPE_SET_LED_TOGGLE_INDICATOR = 22

QUERY_ANSWER = bytes([0, 0, 0, 4, 0, 0, 0, 1])

ALL_BUTTONS = -1
BLINK = -1


def _words(*values):
    return struct.pack(">%dI" % len(values), *(v & 0xFFFFFFFF for v in values))


def _text(text):
    return text.encode("ascii") + b"\0"


def frame(record):
    return struct.pack(">I", len(record)) + record


def text_line(screen, line, text, inverted=False):
    data = _text(text)
    return frame(_words(TYPE_TFT_TEXT_LINE, screen, line, 1 if inverted else 0, len(data)) + data)


def sub_text_line(screen, line, offset, text, text_colour, back_colour, num_chars=None):
    data = _text(text)
    count = len(text) if num_chars is None else num_chars
    return frame(_words(TYPE_TFT_SUB_TEXT_LINE, screen, line, offset, count,
                        text_colour, back_colour, len(data)) + data)


def blackout_screen(screen):
    return frame(_words(TYPE_BLACKOUT_SCREEN, screen))


def led_button_state(button, state, blink_ms=0):
    return frame(_words(TYPE_SET_LED_BUTTON_STATE, button, state, blink_ms))


def led_status_indicator(indicator, state):
    return frame(_words(TYPE_SET_LED_STATUS_INDICATOR, indicator, state))


def led_toggle_indicator(indicator, state):
    return frame(_words(TYPE_SET_LED_TOGGLE_INDICATOR, indicator, state))


def draw_tft_image(screen, x, y, bmp):
    return frame(_words(TYPE_DRAW_TFT_IMAGE, screen, x, y, len(bmp)) + bmp)


def reconfigure():
    return frame(_words(TYPE_RECONFIGURE, 0))


def query():
    return frame(_words(TYPE_QUERY))


def bmp24(width, height, colour_at):
    """A 24-bit uncompressed BMP file; colour_at(x, y) gives 0xRRGGBB, y = 0 the top row."""
    pad = bytes(width & 3)
    rows = []
    for y in range(height - 1, -1, -1):  # stored bottom-up
        row = bytearray()
        for x in range(width):
            c = colour_at(x, y)
            row += bytes((c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF))
        rows.append(bytes(row) + pad)
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def rgb24_to_565(c):
    return ((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c & 0xFF) >> 3)


def connect(port, host="127.0.0.1", within_s=10.0):
    """Connects to keylight and checks that it answers the alive query."""
    deadline = time.monotonic() + within_s
    while True:
        try:
            sock = socket.create_connection((host, port), timeout=2.0)
            break
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)
    round_trip(sock)
    return sock


def round_trip(sock):
    """Waits until keylight has dispatched everything sent before: its answer follows them."""
    sock.sendall(query())
    answer = b""
    while len(answer) < len(QUERY_ANSWER):
        chunk = sock.recv(len(QUERY_ANSWER) - len(answer))
        if not chunk:
            raise ConnectionError("keylight closed the connection instead of answering the query")
        answer += chunk
    if answer != QUERY_ANSWER:
        raise ConnectionError("keylight answered the query with %s" % answer.hex())
