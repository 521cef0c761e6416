#include "AllowedOrigins.h"

#include <cstdlib>
#include <sstream>

namespace FB { namespace Consent {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Splits the lines of a hand-editable file into "<first word> <rest>": blanks and line ends of
// any system around a line are dropped, and so are lines that are empty or have one word.
template <typename Each>
void forEachLine(const std::string& text, Each each) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t first = line.find_first_not_of(" \t");
        const std::size_t last = line.find_last_not_of(" \t\r");
        if (first == std::string::npos || last == std::string::npos)
            continue;
        line = line.substr(first, last - first + 1);
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || space + 1 == line.size())
            continue;
        each(line.substr(0, space), line.substr(space + 1));
    }
}

std::string dismissedPath(const std::string& path) { return path + ".dismissed"; }

std::int64_t secondsSinceEpoch(AllowedOrigins::TimePoint t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

} // namespace

AllowedOrigins::Lock::~Lock() {
    if (held())
        origins_file::unlock(m_handle);
}

AllowedOrigins::Lock& AllowedOrigins::Lock::operator=(Lock&& other) noexcept {
    if (this != &other) {
        if (held())
            origins_file::unlock(m_handle);
        m_handle = other.m_handle;
        other.m_handle = kNone;
    }
    return *this;
}

bool AllowedOrigins::load() {
    std::string text;
    std::string error;
    const origins_file::ReadResult read =
        m_path.empty() ? origins_file::ReadResult::Missing : origins_file::readWhole(m_path, text, error);
    std::map<std::string, bool> answers;
    forEachLine(text, [&](const std::string& verb, const std::string& origin) {
        if (verb == "allow")
            answers[origin] = true;
        else if (verb == "deny")
            answers[origin] = false;
    });
    std::lock_guard<std::mutex> guard(m_mutex);
    m_answers.swap(answers);
    m_loadError = read == origins_file::ReadResult::Failed ? error : std::string();
    return read != origins_file::ReadResult::Failed;
}

std::string AllowedOrigins::loadError() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_loadError;
}

std::map<std::string, bool> AllowedOrigins::answers() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_answers;
}

AllowedOrigins::Answer AllowedOrigins::answerFor(const std::string& origin) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto it = m_answers.find(origin);
    if (it == m_answers.end())
        return Answer::Unknown;
    return it->second ? Answer::Allowed : Answer::Denied;
}

AllowedOrigins::Lock AllowedOrigins::lock(std::string* error) const {
    Lock lock;
    std::string why;
    if (m_path.empty())
        why = "there is no config folder for the allowed-origins file";
    else if (origins_file::makePrivateFolders(folderOf(m_path), why))
        lock.m_handle = origins_file::lockExclusive(m_path + ".lock", why);
    if (error)
        *error = lock.held() ? std::string() : why;
    return lock;
}

bool AllowedOrigins::remember(const std::string& origin, bool allowed, std::string* error) {
    const Lock held = lock(error);
    if (!held.held()) {
        // Not written, but the answer still holds for this list.
        std::lock_guard<std::mutex> guard(m_mutex);
        m_answers[origin] = allowed;
        return false;
    }
    return rememberLocked(held, origin, allowed, error);
}

bool AllowedOrigins::rememberLocked(const Lock& held, const std::string& origin, bool allowed,
                                    std::string* error) {
    // Another process may have answered meanwhile; its answers stay.
    const bool readable = load();
    std::ostringstream text;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_answers[origin] = allowed;
        if (!readable || !held.held()) {
            if (error)
                *error = !readable ? "the allowed-origins file " + m_path + " cannot be read (" + m_loadError +
                                         "), so it is not written over"
                                   : "the allowed-origins file is not locked";
            return false;
        }
        text << "# Page origins allowed to use the token through orvanta\n";
        for (const auto& entry : m_answers)
            text << (entry.second ? "allow " : "deny ") << entry.first << '\n';
    }
    std::string why;
    if (!origins_file::replacePrivately(m_path, text.str(), why)) {
        if (error)
            *error = why;
        return false;
    }
    return true;
}

AllowedOrigins::TimePoint AllowedOrigins::heldBackUntilLocked(const Lock& held, const std::string& origin) const {
    TimePoint until{};
    std::string text;
    std::string ignored;
    if (!held.held() || origins_file::readWhole(dismissedPath(m_path), text, ignored) != origins_file::ReadResult::Read)
        return until;
    forEachLine(text, [&](const std::string& seconds, const std::string& named) {
        if (named == origin)
            until = TimePoint(std::chrono::seconds(std::strtoll(seconds.c_str(), nullptr, 10)));
    });
    return until;
}

bool AllowedOrigins::holdBackLocked(const Lock& held, const std::string& origin, TimePoint until) {
    if (!held.held())
        return false;
    std::string text;
    std::string error;
    const std::int64_t now = secondsSinceEpoch(std::chrono::system_clock::now());
    std::map<std::string, std::int64_t> entries;
    if (origins_file::readWhole(dismissedPath(m_path), text, error) == origins_file::ReadResult::Read) {
        forEachLine(text, [&](const std::string& seconds, const std::string& named) {
            const std::int64_t value = std::strtoll(seconds.c_str(), nullptr, 10);
            if (value > now)  // the ones that ran out go
                entries[named] = value;
        });
    }
    entries[origin] = secondsSinceEpoch(until);
    std::ostringstream out;
    out << "# Page origins whose permission prompt is not shown again until then (seconds since 1970)\n";
    for (const auto& entry : entries)
        out << entry.second << ' ' << entry.first << '\n';
    return origins_file::replacePrivately(dismissedPath(m_path), out.str(), error);
}

}} // namespace FB::Consent
