#pragma once
// The person's answers about page origins, kept in a small text file in the user's config
// folder: one line per origin, "allow <origin>" or "deny <origin>". Lines that are neither
// are ignored (and kept out of the file when it is written again).

#include <map>
#include <string>

namespace FB { namespace NativeMessaging {

class AllowedOrigins {
public:
    enum class Answer { Unknown, Allowed, Denied };

    explicit AllowedOrigins(std::string path) : m_path(std::move(path)) {}

    // Reads the file again; a missing file is an empty list.
    void load();
    Answer answerFor(const std::string& origin) const;
    // Records the answer and writes the whole list (through a temporary file, so a reader
    // never sees half of it). False when it could not be written.
    bool remember(const std::string& origin, bool allowed);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::map<std::string, bool> m_answers;
};

// <user's config folder>/orvanta/allowed-origins: $XDG_CONFIG_HOME (or ~/.config) on Linux,
// %APPDATA% on Windows. Empty when the folder cannot be found.
std::string defaultAllowedOriginsPath();

}} // namespace FB::NativeMessaging
