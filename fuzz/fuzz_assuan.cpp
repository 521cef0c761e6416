// What a pinentry program says back over Assuan: greeting, OK/ERR/D/S/INQUIRE lines with
// percent escapes, overlong lines, a missing last newline, an early end. The first byte
// picks the conversation (the built-in PIN entry through askPin, or one command with a data
// buffer of a size drawn from the input); the rest is the program's whole output. Whatever
// it says, the conversation ends with a PIN of at most 31 bytes or a failure, writes no byte
// outside the caller's buffer, and askPin leaves the process-wide PIN buffer wiped, as the
// conversation leaves its own buffers.

#include "Posix/Pinentry.h"
#include "pin/PinEntry.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

// A conversation in storage of the caller's, so what it leaves behind can be looked at once
// it has gone: its buffers of received bytes (which held the PIN) must be wiped then. Its
// scalar fields may stay non-zero.
class WipeChecked {
public:
    WipeChecked() { new (storage_) orv::PinentryConversation(); }
    ~WipeChecked() {
        // What may stay: the closed descriptor and process (-1 each), the last error code,
        // the count of bytes received.
        const unsigned long code = get().errorCode();
        std::size_t allowed = sizeof(int) + sizeof(pid_t) + sizeof(std::size_t);
        for (std::size_t i = 0; i < sizeof code; ++i)
            allowed += ((code >> (8 * i)) & 0xFF) != 0;
        get().~PinentryConversation();
        std::size_t left = 0;
        for (unsigned char b : storage_)
            left += b != 0;
        if (left > allowed) {
            std::fprintf(stderr, "%zu bytes of the conversation left unwiped\n", left - allowed);
            std::abort();
        }
    }
    orv::PinentryConversation& get() { return *std::launder(reinterpret_cast<orv::PinentryConversation*>(storage_)); }

private:
    alignas(orv::PinentryConversation) unsigned char storage_[sizeof(orv::PinentryConversation)];
};

// One end of a stream holding the peer's whole output, then its end of file.
int peerSaying(const std::uint8_t* data, std::size_t size, int& peer) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        std::abort();
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(pair[1], data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            std::abort();  // the stream holds far more than -max_len allows
        sent += static_cast<std::size_t>(n);
    }
    shutdown(pair[1], SHUT_WR);
    peer = pair[1];
    return pair[0];
}

void pinThroughAskPin(int socket) {
    WipeChecked checked;
    orv::PinentryConversation& pinentry = checked.get();
    bool attached = false;
    orv::setPinEntryHandler([&] {
        attached = pinentry.attach(socket);
        return attached && orv::askPinOver(pinentry);
    });
    unsigned char pin[orv::kPinTextSize + 8];
    std::int32_t length = -1;
    const int ok = orv::askPin(pin, &length);
    orv::setPinEntryHandler(nullptr);
    if (!attached && ok)
        std::abort();
    if (ok && (length < 0 || length > static_cast<std::int32_t>(orv::kPinTextSize - 1)))
        std::abort();
    for (char c : orv::pinText)
        if (c != 0)
            std::abort();
    if (orv::pinLength != 0)
        std::abort();
}

void oneCommand(int socket, std::size_t room) {
    WipeChecked checked;
    orv::PinentryConversation& pinentry = checked.get();
    if (!pinentry.attach(socket))
        return;
    // Exactly `room` bytes, so a write past them is a heap overflow.
    std::unique_ptr<char[]> data(new char[room ? room : 1]);
    std::size_t length = room + 1;
    const auto reply = pinentry.command("GETPIN", std::string(), data.get(), room, &length);
    if (reply == orv::PinentryConversation::Reply::Ok && length > room)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t choice = data[0];
    int peer = -1;
    const int socket = peerSaying(data + 1, size - 1, peer);
    orv::setPinRequestOrigin(choice & 2 ? "https://fuzz.example" : "");
    if (choice & 1)
        oneCommand(socket, choice >> 2);
    else
        pinThroughAskPin(socket);
    close(peer);
    return 0;
}
