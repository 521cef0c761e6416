#pragma once
// The browsers' native messaging framing: every message is a 32-bit length in the machine's
// own byte order followed by that many bytes of UTF-8 JSON. A browser accepts at most 1 MB
// from a host; what a browser may send is bounded by the host.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace FB { namespace NativeMessaging {

// The most a browser takes in one message from a host.
constexpr std::size_t kMaxMessageToBrowser = 1024 * 1024;
// The most this host takes in one message from the browser. The page API's requests are a
// few hundred bytes; anything near this bound is not a request of ours.
constexpr std::size_t kMaxMessageFromBrowser = 1024 * 1024;

enum class ReadResult {
    Message,    // `message` holds one whole message
    End,        // the browser closed the port between two messages
    Truncated,  // the input ended inside a length or a message
    TooLong,    // a length above the bound: its bytes were read and dropped, the stream is
                // at the next message
};

// Reads one message. A message over `maxLength` is skipped, never held in memory.
ReadResult readFrame(std::istream& in, std::string& message,
                     std::size_t maxLength = kMaxMessageFromBrowser);

// Writes one message and flushes it. False, with nothing written, when it is longer than
// the browser takes; false when the stream fails.
bool writeFrame(std::ostream& out, const std::string& message);

// The 4-byte length field for `length` as this machine writes it.
std::string frameLength(std::uint32_t length);

}} // namespace FB::NativeMessaging
