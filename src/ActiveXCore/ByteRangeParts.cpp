#include "ByteRangeParts.h"

#include <cctype>
#include <cstdlib>

namespace FB {
namespace ActiveX {

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// "bytes START-END/TOTAL": START, when the value has that form.
bool rangeStart(const std::string& value, std::size_t& start) {
    const std::string text = trim(value);
    if (lower(text.substr(0, 6)) != "bytes ")
        return false;
    const std::string::size_type dash = text.find('-', 6);
    if (dash == std::string::npos || dash == 6)
        return false;
    const std::string digits = trim(text.substr(6, dash - 6));
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    start = static_cast<std::size_t>(std::strtoull(digits.c_str(), nullptr, 10));
    return true;
}

} // namespace

ByteRangeParts::ByteRangeParts(const std::string& boundary)
    : m_delimiter("--" + boundary), m_bodyDelimiter("\r\n--" + boundary) {}

std::string ByteRangeParts::boundaryOf(const std::string& contentType) {
    const std::string type = lower(contentType);
    if (trim(type.substr(0, type.find(';'))) != "multipart/byteranges")
        return std::string();
    const std::string::size_type at = type.find("boundary=");
    if (at == std::string::npos)
        return std::string();
    // The boundary keeps its own case: read it from the original text.
    std::string value = contentType.substr(at + 9);
    if (!value.empty() && value[0] == '"') {
        const std::string::size_type close = value.find('"', 1);
        return close == std::string::npos ? std::string() : value.substr(1, close - 1);
    }
    return trim(value.substr(0, value.find(';')));
}

void ByteRangeParts::emit(const char* data, std::size_t length, const Sink& sink) {
    if (length == 0)
        return;
    if (!m_partHasOffset) {
        m_dropped += length;
        return;
    }
    sink(data, length, m_partOffset);
    m_partOffset += length;
}

void ByteRangeParts::feed(const char* data, std::size_t length, const Sink& sink) {
    if (m_state == State::Done)
        return;
    m_pending.append(data, length);
    for (;;) {
        if (m_state == State::Boundary) {
            // The preamble, or what follows a part's content: up to the delimiter's line end.
            const std::string::size_type at = m_pending.find(m_delimiter);
            if (at == std::string::npos) {
                if (m_pending.size() >= m_delimiter.size())
                    m_pending.erase(0, m_pending.size() - (m_delimiter.size() - 1));
                return;
            }
            const std::string::size_type after = at + m_delimiter.size();
            if (m_pending.size() < after + 2)
                return;
            if (m_pending.compare(after, 2, "--") == 0) {
                m_state = State::Done;
                m_pending.clear();
                return;
            }
            const std::string::size_type lineEnd = m_pending.find("\r\n", after);
            if (lineEnd == std::string::npos)
                return;
            m_pending.erase(0, lineEnd + 2);
            m_state = State::Headers;
        } else if (m_state == State::Headers) {
            std::string::size_type end;
            std::string::size_type skip;
            if (m_pending.compare(0, 2, "\r\n") == 0) {
                end = 0;
                skip = 2;
            } else {
                end = m_pending.find("\r\n\r\n");
                if (end == std::string::npos)
                    return;
                skip = end + 4;
            }
            m_partHasOffset = false;
            std::string::size_type line = 0;
            while (line < end) {
                std::string::size_type next = m_pending.find("\r\n", line);
                if (next == std::string::npos || next > end)
                    next = end;
                const std::string header = m_pending.substr(line, next - line);
                const std::string::size_type colon = header.find(':');
                if (colon != std::string::npos && lower(trim(header.substr(0, colon))) == "content-range")
                    m_partHasOffset = rangeStart(header.substr(colon + 1), m_partOffset);
                line = next + 2;
            }
            m_pending.erase(0, skip);
            m_state = State::Body;
        } else {
            const std::string::size_type at = m_pending.find(m_bodyDelimiter);
            if (at == std::string::npos) {
                // All but what could be the start of the delimiter is content.
                if (m_pending.size() >= m_bodyDelimiter.size()) {
                    const std::size_t sure = m_pending.size() - (m_bodyDelimiter.size() - 1);
                    emit(m_pending.data(), sure, sink);
                    m_pending.erase(0, sure);
                }
                return;
            }
            emit(m_pending.data(), at, sink);
            m_pending.erase(0, at + 2);
            m_state = State::Boundary;
        }
    }
}

} // namespace ActiveX
} // namespace FB
