#include "Pinentry.h"

#include "logging.h"
#include "pin/PinEntry.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace orv {

namespace {

// Assuan lines are at most 1000 bytes, newline included.
constexpr std::size_t kMaxLine = 1000;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Escapes '%', CR, LF and the other control bytes; cuts whole UTF-8 characters off the end
// so that at most `room` bytes result.
std::string escape(const std::string& text, std::size_t room) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = i + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;  // continuation bytes of one character
        std::string unit;
        for (std::size_t k = i; k < end; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            if (c < 0x20 || c == '%' || c == 0x7F) {
                unit += '%';
                unit += digits[c >> 4];
                unit += digits[c & 0xF];
            } else {
                unit += static_cast<char>(c);
            }
        }
        if (out.size() + unit.size() > room)
            break;
        out += unit;
        i = end;
    }
    return out;
}

} // namespace

std::string PinentryConversation::program() {
    const char* named = std::getenv("ORVANTA_PINENTRY");
    return named && *named ? named : "pinentry";
}

PinentryConversation::~PinentryConversation() {
    finish();
    secureWipe(received_, sizeof received_);
    secureWipe(line_, sizeof line_);
}

bool PinentryConversation::start() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        FBLOG_WARN("Pinentry", "socketpair: " << std::strerror(errno));
        return false;
    }
    // The program talks over its standard input and output; dup2 leaves those open in it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string name = program();
    char* argv[] = {const_cast<char*>(name.c_str()), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, name.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    if (spawned != 0) {
        FBLOG_WARN("Pinentry", "cannot start " << name << ": " << std::strerror(spawned));
        close(pair[0]);
        return false;
    }
    child_ = child;
    if (!attach(pair[0]))
        return false;
    // A terminal pinentry needs to know where to ask; a graphical one finds DISPLAY itself.
    if (isatty(STDIN_FILENO)) {
        if (const char* tty = ttyname(STDIN_FILENO))
            command("OPTION", std::string("ttyname=") + tty);
        if (const char* term = std::getenv("TERM"))
            command("OPTION", std::string("ttytype=") + term);
    }
    return true;
}

bool PinentryConversation::attach(int socket) {
    socket_ = socket;
    std::size_t length = 0;
    if (!readLine(length) || length < 2 || std::strncmp(line_, "OK", 2) != 0) {
        FBLOG_WARN("Pinentry", program() << " did not greet");
        finish();
        return false;
    }
    return true;
}

bool PinentryConversation::sendLine(const std::string& line) {
    if (socket_ < 0)
        return false;
    std::size_t sent = 0;
    while (sent < line.size()) {
        // MSG_NOSIGNAL: a program that died must not take the browser down with SIGPIPE.
        const ssize_t n = send(socket_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool PinentryConversation::readLine(std::size_t& length) {
    for (;;) {
        char* newline = static_cast<char*>(std::memchr(received_, '\n', have_));
        if (newline) {
            length = static_cast<std::size_t>(newline - received_);
            if (length >= sizeof line_)
                return false;
            std::memcpy(line_, received_, length);
            line_[length] = '\0';
            const std::size_t used = length + 1;
            std::memmove(received_, received_ + used, have_ - used);
            have_ -= used;
            secureWipe(received_ + have_, used);
            return true;
        }
        if (have_ == sizeof received_ || socket_ < 0)
            return false;  // a line longer than the protocol allows, or no peer
        const ssize_t n = recv(socket_, received_ + have_, sizeof received_ - have_, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        have_ += static_cast<std::size_t>(n);
    }
}

PinentryConversation::Reply PinentryConversation::command(const char* verb,
                                                          const std::string& argument,
                                                          char* data, std::size_t room,
                                                          std::size_t* dataLength) {
    std::string line = verb;
    if (!argument.empty()) {
        line += ' ';
        line += escape(argument, kMaxLine - 1 - line.size());
    }
    line += '\n';
    if (!sendLine(line))
        return Reply::Broken;
    std::size_t stored = 0;
    for (;;) {
        std::size_t length = 0;
        if (!readLine(length))
            return Reply::Broken;
        if (length >= 2 && line_[0] == 'O' && line_[1] == 'K' && (length == 2 || line_[2] == ' ')) {
            if (dataLength)
                *dataLength = stored;
            return Reply::Ok;
        }
        if (length >= 3 && std::strncmp(line_, "ERR", 3) == 0) {
            FBLOG_INFO("Pinentry", verb << ": " << line_);
            errorCode_ = std::strtoul(line_ + 3, nullptr, 10);
            return Reply::Error;
        }
        if (length >= 2 && line_[0] == 'D' && line_[1] == ' ') {
            for (std::size_t i = 2; i < length; ++i) {
                char c = line_[i];
                if (c == '%' && i + 2 < length && hexValue(line_[i + 1]) >= 0 &&
                    hexValue(line_[i + 2]) >= 0) {
                    c = static_cast<char>(hexValue(line_[i + 1]) * 16 + hexValue(line_[i + 2]));
                    i += 2;
                }
                if (data && stored < room)
                    data[stored++] = c;
            }
            continue;
        }
        if (length >= 7 && std::strncmp(line_, "INQUIRE", 7) == 0) {
            if (!sendLine("CAN\n"))
                return Reply::Broken;
            continue;
        }
        // Status ("S ...") and comment ("# ...") lines carry nothing we use.
    }
}

void PinentryConversation::finish() {
    if (socket_ >= 0) {
        sendLine("BYE\n");
        close(socket_);
        socket_ = -1;
    }
    if (child_ > 0) {
        // The program ends on BYE or when its input closes; do not wait on one that hangs.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            const pid_t done = waitpid(child_, nullptr, WNOHANG);
            if (done == child_ || (done < 0 && errno != EINTR))
                break;
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(child_, SIGKILL);
                waitpid(child_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        child_ = -1;
    }
}

} // namespace orv
