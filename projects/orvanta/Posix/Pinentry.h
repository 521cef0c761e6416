#pragma once
// A conversation with a pinentry program over its Assuan protocol: the built-in PIN entry and
// the error box on Linux. The program is the one named by ORVANTA_PINENTRY, else "pinentry"
// on PATH.

#include "pin/OriginPrompt.h"

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace orv {

class PinentryConversation {
public:
    enum class Reply { Ok, Error, Broken };

    PinentryConversation() = default;
    ~PinentryConversation();
    PinentryConversation(const PinentryConversation&) = delete;
    PinentryConversation& operator=(const PinentryConversation&) = delete;

    // Starts the program and reads its greeting; tells it the terminal when there is one.
    bool start();

    // Talks over a stream that is already connected to a pinentry instead of starting one:
    // takes the descriptor (closed when done) and reads the greeting.
    bool attach(int socket);

    // Sends "<verb> <argument>" with the argument escaped (and cut so the line stays within
    // the protocol's 1000 bytes) and reads up to the closing OK or ERR. The bytes of "D"
    // lines are decoded into `data` (at most `room` bytes; the rest is dropped) and their
    // count stored in *dataLength.
    Reply command(const char* verb, const std::string& argument = std::string(),
                  char* data = nullptr, std::size_t room = 0, std::size_t* dataLength = nullptr);

    // The code of the last ERR answer (gpg-error: source in the high bits, code in the low
    // 16), 0 when there was none.
    unsigned long errorCode() const { return errorCode_; }

    // The program named by the environment, or the default.
    static std::string program();

private:
    bool sendLine(const std::string& line);
    // The next line, without its newline, in line_ (kept there until the next call).
    bool readLine(std::size_t& length);
    void finish();

    unsigned long errorCode_ = 0;
    int socket_ = -1;
    pid_t child_ = -1;
    // Received bytes may hold the PIN: fixed storage, wiped when done.
    char received_[2048] = {};
    std::size_t have_ = 0;
    char line_[1024] = {};
};

// The built-in PIN entry's questions over a started conversation: fills pinText and pinLength
// and returns true when the person confirmed.
bool askPinOver(PinentryConversation& pinentry);

// The origin permission prompt over a started conversation.
OriginAnswer askOriginOver(PinentryConversation& pinentry, const std::string& origin);

} // namespace orv
