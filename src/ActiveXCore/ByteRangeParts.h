#pragma once
// FB::ActiveX::ByteRangeParts: the body of a "multipart/byteranges" answer to a request for
// several byte ranges, taken apart as it arrives in chunks of any size. Each part's bytes
// are handed on with the offset in the resource that its Content-Range header names, so
// that the boundaries and part headers never pass for file bytes.

#include <cstddef>
#include <functional>
#include <string>

namespace FB {
namespace ActiveX {

class ByteRangeParts {
public:
    // (bytes, count, offset in the resource)
    using Sink = std::function<void(const char*, std::size_t, std::size_t)>;

    explicit ByteRangeParts(const std::string& boundary);

    // The boundary parameter of a Content-Type value when it is multipart/byteranges, else
    // the empty string.
    static std::string boundaryOf(const std::string& contentType);

    // Takes the next bytes of the body; whole or partial part bytes go to the sink at once.
    void feed(const char* data, std::size_t length, const Sink& sink);
    // Whether the closing boundary has been seen.
    bool finished() const { return m_state == State::Done; }
    // Bytes of part content that carried no usable Content-Range and were dropped.
    std::size_t dropped() const { return m_dropped; }

private:
    enum class State { Boundary, Headers, Body, Done };

    void emit(const char* data, std::size_t length, const Sink& sink);

    std::string m_delimiter;      // "--" boundary
    std::string m_bodyDelimiter;  // CRLF "--" boundary
    std::string m_pending;        // bytes not yet decided on
    State m_state = State::Boundary;
    bool m_partHasOffset = false;
    std::size_t m_partOffset = 0;
    std::size_t m_dropped = 0;
};

} // namespace ActiveX
} // namespace FB
