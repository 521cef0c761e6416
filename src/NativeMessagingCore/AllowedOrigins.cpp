#include "AllowedOrigins.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace FB { namespace NativeMessaging {

void AllowedOrigins::load() {
    m_answers.clear();
    std::ifstream in(fs::u8path(m_path), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        // The file may be edited by hand: blanks and line ends of any system around a line.
        const std::size_t first = line.find_first_not_of(" \t");
        const std::size_t last = line.find_last_not_of(" \t\r");
        if (first == std::string::npos || last == std::string::npos)
            continue;
        line = line.substr(first, last - first + 1);
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || space + 1 == line.size())
            continue;
        const std::string verb = line.substr(0, space);
        const std::string origin = line.substr(space + 1);
        if (verb == "allow")
            m_answers[origin] = true;
        else if (verb == "deny")
            m_answers[origin] = false;
    }
}

AllowedOrigins::Answer AllowedOrigins::answerFor(const std::string& origin) const {
    const auto it = m_answers.find(origin);
    if (it == m_answers.end())
        return Answer::Unknown;
    return it->second ? Answer::Allowed : Answer::Denied;
}

bool AllowedOrigins::remember(const std::string& origin, bool allowed) {
    // Another connection may have answered meanwhile; its answers stay.
    load();
    m_answers[origin] = allowed;
    if (m_path.empty())
        return false;
    const fs::path file = fs::u8path(m_path);
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error)
        return false;
    std::ostringstream text;
    text << "# Page origins allowed to use the token through the orvanta extension\n";
    for (const auto& entry : m_answers)
        text << (entry.second ? "allow " : "deny ") << entry.first << '\n';
    fs::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text.str();
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, file, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

}} // namespace FB::NativeMessaging
