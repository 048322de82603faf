// The TCP side of keylight-send: one connection to keylight, whole batches written to it, and
// the answers to queries read back within a deadline.
//
// Functions return false on failure with a one-line reason in `error`; nothing is printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace keylightsend {

// Connects to host:port (a name or a numeric IPv4/IPv6 address), giving up after timeout_ms.
// Returns the socket, or -1 with the reason.
int connect_to(const std::string& host, uint16_t port, int timeout_ms, std::string& error);

// Writes all of bytes in as few writes as the socket allows.
bool send_all(int fd, const std::vector<uint8_t>& bytes, std::string& error);

// Reads until `count` query answers (00 00 00 04 00 00 00 01) have arrived, waiting at most
// timeout_ms in all. Refuses anything else on the stream, an end of stream or the deadline.
bool await_answers(int fd, int count, int timeout_ms, std::string& error);

}  // namespace keylightsend
