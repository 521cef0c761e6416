// What a pinentry program says back over Assuan: greeting, OK/ERR/D/S/INQUIRE lines with
// percent escapes, overlong lines, a missing last newline, an early end. The first byte
// picks the conversation (the built-in PIN entry through askPin, with or without the line
// naming the site; the origin permission prompt; or one command with a data buffer of a size
// drawn from the input); the rest is the program's whole output. Whatever it says, the
// conversation ends with the answer a plain reading of those lines gives (a PIN of at most
// 31 bytes, a yes, a no, or a failure), writes no byte outside the caller's buffer, and
// leaves the process-wide PIN buffer wiped, as the conversation leaves its own buffers.

#include "Posix/Pinentry.h"
#include "pin/OriginPrompt.h"
#include "pin/PinEntry.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

namespace {

using Reply = orv::PinentryConversation::Reply;

// The answers a plain reading of the program's output gives, line by line: what the
// conversation must come to. A line of 1024 bytes or more, or output ending inside a line,
// breaks the conversation for good.
class PeerModel {
public:
    PeerModel(const std::uint8_t* data, std::size_t size) : text_(reinterpret_cast<const char*>(data), size) {}

    bool greets() {
        std::string line;
        return nextLine(line) && line.size() >= 2 && line.compare(0, 2, "OK") == 0;
    }

    // The reply to one command: its kind, the decoded data (at most room bytes), the code.
    Reply command(std::size_t room, std::string* data = nullptr, unsigned long* code = nullptr) {
        std::string line;
        while (nextLine(line)) {
            if (line.size() >= 2 && line[0] == 'O' && line[1] == 'K' && (line.size() == 2 || line[2] == ' '))
                return Reply::Ok;
            if (line.compare(0, 3, "ERR") == 0) {
                if (code)
                    *code = std::strtoul(line.c_str() + 3, nullptr, 10);
                return Reply::Error;
            }
            if (line.size() >= 2 && line[0] == 'D' && line[1] == ' ') {
                for (std::size_t i = 2; i < line.size(); ++i) {
                    char c = line[i];
                    if (c == '%' && i + 2 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i + 1])) &&
                        std::isxdigit(static_cast<unsigned char>(line[i + 2]))) {
                        c = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                        i += 2;
                    }
                    if (data && data->size() < room)
                        data->push_back(c);
                }
            }
        }
        return Reply::Broken;
    }

private:
    bool nextLine(std::string& line) {
        if (broken_)
            return false;
        const std::size_t end = text_.find('\n', pos_);
        if (end == std::string::npos || end - pos_ >= 1024) {
            broken_ = true;
            return false;
        }
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

    std::string text_;
    std::size_t pos_ = 0;
    bool broken_ = false;
};

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

void mustAgree(bool agree, const char* what) {
    if (!agree) {
        std::fprintf(stderr, "the conversation disagrees with a plain reading: %s\n", what);
        std::abort();
    }
}

void pinThroughAskPin(int socket, PeerModel& model, bool withSite) {
    WipeChecked checked;
    orv::PinentryConversation& pinentry = checked.get();
    orv::setPinRequestOrigin(withSite ? "https://fuzz.example" : "");
    orv::setPinEntryHandler([&] { return pinentry.attach(socket) && orv::askPinOver(pinentry); });
    unsigned char pin[orv::kPinTextSize + 8];
    std::memset(pin, 0xEE, sizeof pin);
    std::int32_t length = -1;
    const int ok = orv::askPin(pin, &length);
    orv::setPinEntryHandler(nullptr);
    orv::setPinRequestOrigin("");

    std::string expected;
    bool confirmed = model.greets();
    if (confirmed) {
        for (int i = withSite ? 5 : 4; i > 0; --i)  // title, prompt, [site], OK and cancel texts
            model.command(0);
        confirmed = model.command(orv::kPinTextSize - 1, &expected) == Reply::Ok;
    }
    mustAgree(ok == (confirmed ? 1 : 0), "PIN given or not");
    if (ok)
        mustAgree(length == static_cast<std::int32_t>(expected.size()) &&
                      std::memcmp(pin, expected.data(), expected.size()) == 0,
                  "the PIN's bytes");
    for (char c : orv::pinText)
        if (c != 0)
            std::abort();
    if (orv::pinLength != 0)
        std::abort();
}

void originPrompt(int socket, PeerModel& model) {
    WipeChecked checked;
    orv::PinentryConversation& pinentry = checked.get();
    const orv::OriginAnswer answer =
        pinentry.attach(socket) ? orv::askOriginOver(pinentry, "https://fuzz.example") : orv::OriginAnswer::NoAnswer;

    orv::OriginAnswer expected = orv::OriginAnswer::NoAnswer;
    if (model.greets()) {
        for (int i = 0; i < 3; ++i)  // title, question, the deny button's text
            model.command(0);
        // The allow button's text: a pinentry that refuses it is not asked at all.
        if (model.command(0) == Reply::Ok) {
            model.command(0);  // the cancel button's text
            unsigned long code = 0;
            switch (model.command(0, nullptr, &code)) {
            case Reply::Ok: expected = orv::OriginAnswer::Deny; break;
            case Reply::Error:
                if ((code & 0xFFFF) == 114)
                    expected = orv::OriginAnswer::Allow;
                else if ((code & 0xFFFF) == 99)
                    expected = orv::OriginAnswer::Dismissed;
                break;
            case Reply::Broken: break;
            }
        }
    }
    mustAgree(answer == expected, "the origin answer");
}

void oneCommand(int socket, PeerModel& model, std::size_t room) {
    WipeChecked checked;
    orv::PinentryConversation& pinentry = checked.get();
    const bool attached = pinentry.attach(socket);
    mustAgree(attached == model.greets(), "the greeting");
    if (!attached)
        return;
    // Exactly `room` bytes, so a write past them is a heap overflow.
    std::unique_ptr<char[]> data(new char[room ? room : 1]);
    std::size_t length = room + 1;
    const Reply reply = pinentry.command("GETPIN", std::string(), data.get(), room, &length);
    std::string expected;
    unsigned long code = 0;
    mustAgree(reply == model.command(room, &expected, &code), "the reply");
    if (reply == Reply::Ok)
        mustAgree(length == expected.size() && std::memcmp(data.get(), expected.data(), length) == 0, "the data");
    if (reply == Reply::Error)
        mustAgree(pinentry.errorCode() == code, "the error code");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t choice = data[0];
    int peer = -1;
    const int socket = peerSaying(data + 1, size - 1, peer);
    PeerModel model(data + 1, size - 1);
    // The peer reads what it is told, as a pinentry does: otherwise a long enough run of
    // answers to INQUIREs fills the stream and the conversation waits on it for ever.
    std::thread reader([peer] {
        char sink[4096];
        while (read(peer, sink, sizeof sink) > 0) {
        }
    });
    switch (choice & 3) {
    case 0: pinThroughAskPin(socket, model, false); break;
    case 1: oneCommand(socket, model, choice >> 2); break;
    case 2: pinThroughAskPin(socket, model, true); break;
    default: originPrompt(socket, model); break;
    }
    shutdown(peer, SHUT_RD);
    reader.join();
    close(peer);
    return 0;
}
