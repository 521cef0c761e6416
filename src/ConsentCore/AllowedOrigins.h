#pragma once
// The person's answers about page origins, kept in a small text file in the user's config
// folder: one line per origin, "allow <origin>" or "deny <origin>". Lines that are neither
// are ignored (and kept out of the file when it is written again).
//
// Every process of the user that lets a page reach the token (one orvanta-host per page
// connection, the plug-ins) shares the file. A change is made under a lock file beside it
// ("<file>.lock"): read the file again, change one line, write the whole list under a name
// of its own and rename it over the file. So no answer is lost when several answer at once
// and a reader never sees half a file. The file and the folders made for it are private to
// the user. A file that exists but cannot be read is never written over: a remembered "deny"
// in it must not be lost.
//
// Safe to use from several threads: each Lock is its own lock on the file, so two threads
// wait for each other as two processes do.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace FB { namespace Consent {

class AllowedOrigins {
public:
    enum class Answer { Unknown, Allowed, Denied };
    using TimePoint = std::chrono::system_clock::time_point;

    // One holder at a time across the user's processes and threads. Not held when the lock
    // file could not be made (no config folder, a file where the folder should be).
    class Lock {
    public:
        Lock() = default;
        ~Lock();
        Lock(Lock&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kNone; }
        Lock& operator=(Lock&& other) noexcept;
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        bool held() const { return m_handle != kNone; }

    private:
        friend class AllowedOrigins;
        static constexpr std::intptr_t kNone = -1;
        std::intptr_t m_handle = kNone;  // a descriptor on Linux, a HANDLE on Windows
    };

    explicit AllowedOrigins(std::string path) : m_path(std::move(path)) {}

    // Reads the file again. A missing file is an empty list. False when the file is there but
    // cannot be read: the list is then empty and loadError() says why.
    bool load();
    std::string loadError() const;
    Answer answerFor(const std::string& origin) const;
    // Every answer read by the last load(): origin -> allowed.
    std::map<std::string, bool> answers() const;

    // Waits for the lock, making the folder (private to the user) when it is missing.
    Lock lock(std::string* error = nullptr) const;

    // Records the answer under the lock. False (and why in `error`) when it could not be
    // written, or when the file is there but cannot be read.
    bool remember(const std::string& origin, bool allowed, std::string* error = nullptr);
    // The same for a caller that already holds the lock.
    bool rememberLocked(const Lock& held, const std::string& origin, bool allowed, std::string* error = nullptr);

    // A prompt the person dismissed (or that could not be shown) holds its origin back: no
    // prompt for it until the time kept in "<file>.dismissed". Both need the lock.
    TimePoint heldBackUntilLocked(const Lock& held, const std::string& origin) const;
    bool holdBackLocked(const Lock& held, const std::string& origin, TimePoint until);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    mutable std::mutex m_mutex;
    std::map<std::string, bool> m_answers;
    std::string m_loadError;
};

// <user's config folder>/orvanta/allowed-origins: $XDG_CONFIG_HOME (or ~/.config) on Linux,
// %APPDATA% on Windows. Empty when the folder cannot be found.
std::string defaultAllowedOriginsPath();
// The administrator's answers for every user: /etc/orvanta/allowed-origins on Linux,
// %ProgramData%\orvanta\allowed-origins on Windows, in the same form. Empty when unknown.
std::string machineAllowedOriginsPath();

// Platform pieces (Posix/, Win/). Paths are UTF-8.
namespace origins_file {

enum class ReadResult { Read, Missing, Failed };
ReadResult readWhole(const std::string& path, std::string& text, std::string& error);
// Makes the missing folders of `folder`, private to the user.
bool makePrivateFolders(const std::string& folder, std::string& error);
// Writes `text` to a new file of a unique name beside `path`, private to the user, and renames
// it over `path`.
bool replacePrivately(const std::string& path, const std::string& text, std::string& error);
// Opens (creating) the lock file and waits for its exclusive lock; kNone-like -1 on failure.
std::intptr_t lockExclusive(const std::string& path, std::string& error);
void unlock(std::intptr_t handle);

} // namespace origins_file

}} // namespace FB::Consent
