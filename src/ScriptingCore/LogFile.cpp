#include "LogFile.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

namespace FB { namespace Log {

namespace {

class LogFileHandle {
public:
    explicit LogFileHandle(std::FILE* file) : m_file(file) {}
    ~LogFileHandle() { std::fclose(m_file); }
    LogFileHandle(const LogFileHandle&) = delete;
    LogFileHandle& operator=(const LogFileHandle&) = delete;

    void write(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fwrite(line.data(), 1, line.size(), m_file);
        std::fflush(m_file);  // a browser that crashes must not take the last lines with it
    }

private:
    std::mutex m_mutex;
    std::FILE* m_file;
};

// One line per record; the message's own line breaks are kept visible but on one line.
std::string formatRecord(const Record& r) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    {
        // std::localtime shares one buffer per process.
        static std::mutex clockMutex;
        std::lock_guard<std::mutex> lock(clockMutex);
        if (const std::tm* t = std::localtime(&seconds))
            local = *t;
    }
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char millisText[8];
    std::snprintf(millisText, sizeof millisText, ".%03ld", millis);

    std::string message;
    message.reserve(r.message.size());
    for (char c : r.message) {
        if (c == '\n')
            message += "\\n";
        else if (c == '\r')
            message += "\\r";
        else
            message += c;
    }

    std::string line = std::string(stamp) + millisText + " " + levelName(r.level) + " [" + r.category + "] " +
                       message + " (" + (r.file ? r.file : "?") + ":" + std::to_string(r.line) + " " +
                       (r.function ? r.function : "?") + ")\n";
    return line;
}

struct FileSink {
    std::shared_ptr<LogFileHandle> file;
    Level minimum;

    void operator()(const Record& r) const {
        if (static_cast<int>(r.level) >= static_cast<int>(minimum))
            file->write(formatRecord(r));
    }
};

std::mutex& setupMutex() {
    static std::mutex m;
    return m;
}

bool& installed() {
    static bool value = false;
    return value;
}

Sink& previousSink() {
    static Sink sink;
    return sink;
}

} // namespace

const char* levelName(Level level) {
    switch (level) {
    case Level::Trace: return "TRACE";
    case Level::Info: return "INFO";
    case Level::Warn: return "WARN";
    }
    return "?";
}

bool parseLevel(const std::string& text, Level& level) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "trace")
        level = Level::Trace;
    else if (lower == "info")
        level = Level::Info;
    else if (lower == "warn" || lower == "warning")
        level = Level::Warn;
    else
        return false;
    return true;
}

Sink makeFileSink(const std::string& path, Level minimum) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return Sink();
    return FileSink{std::make_shared<LogFileHandle>(file), minimum};
}

void initLogging() {
    std::lock_guard<std::mutex> lock(setupMutex());
    if (installed())
        return;
    const char* path = std::getenv("ORVANTA_LOG");
    if (!path || !*path)
        return;
    const char* levelText = std::getenv("ORVANTA_LOG_LEVEL");
    Level minimum = Level::Info;
    const bool knownLevel = !levelText || !*levelText || parseLevel(levelText, minimum);
    Sink sink = makeFileSink(path, minimum);
    if (!sink)
        return;  // nowhere to say so: the log itself is what failed
    previousSink() = setSink(sink);
    installed() = true;
    if (!knownLevel)
        FBLOG_WARN("Logging", "Unknown ORVANTA_LOG_LEVEL \"" << levelText << "\"; logging at INFO and above");
}

void stopLogging() {
    std::lock_guard<std::mutex> lock(setupMutex());
    if (!installed())
        return;
    installed() = false;
    Sink current = setSink(previousSink());
    if (!current.target<FileSink>())
        setSink(current);  // someone replaced the file sink meanwhile: leave theirs in place
    previousSink() = Sink();
}

}} // namespace FB::Log
