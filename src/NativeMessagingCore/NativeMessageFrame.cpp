#include "NativeMessageFrame.h"

#include <algorithm>
#include <cstring>

namespace FB { namespace NativeMessaging {

namespace {

// Reads exactly `size` bytes; false when the input ends first.
bool readExactly(std::istream& in, char* data, std::size_t size) {
    in.read(data, static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

bool skipExactly(std::istream& in, std::uint64_t size) {
    char scratch[16 * 1024];
    while (size > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof scratch));
        if (!readExactly(in, scratch, chunk))
            return false;
        size -= chunk;
    }
    return true;
}

} // namespace

std::string frameLength(std::uint32_t length) {
    char bytes[sizeof length];
    std::memcpy(bytes, &length, sizeof length);
    return std::string(bytes, sizeof bytes);
}

ReadResult readFrame(std::istream& in, std::string& message, std::size_t maxLength) {
    message.clear();
    char header[4];
    in.read(header, sizeof header);
    const std::streamsize got = in.gcount();
    if (got == 0)
        return ReadResult::End;
    if (got != static_cast<std::streamsize>(sizeof header))
        return ReadResult::Truncated;
    std::uint32_t length = 0;
    std::memcpy(&length, header, sizeof length);
    if (length > maxLength)
        return skipExactly(in, length) ? ReadResult::TooLong : ReadResult::Truncated;
    message.resize(length);
    if (length > 0 && !readExactly(in, &message[0], length)) {
        message.clear();
        return ReadResult::Truncated;
    }
    return ReadResult::Message;
}

bool writeFrame(std::ostream& out, const std::string& message) {
    if (message.size() > kMaxMessageToBrowser)
        return false;
    const std::string header = frameLength(static_cast<std::uint32_t>(message.size()));
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(message.data(), static_cast<std::streamsize>(message.size()));
    out.flush();
    return static_cast<bool>(out);
}

}} // namespace FB::NativeMessaging
