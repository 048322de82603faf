#pragma once

#include <ostream>
#include <sstream>
#include <string>

// Collects what is written to a standard stream while it lives.
class CapturedStream {
public:
    explicit CapturedStream(std::ostream& stream)
        : _stream(stream), _previous(stream.rdbuf(_text.rdbuf())) {}
    ~CapturedStream() { _stream.rdbuf(_previous); }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::string text() const { return _text.str(); }

private:
    std::ostringstream _text;
    std::ostream& _stream;
    std::streambuf* _previous;
};
