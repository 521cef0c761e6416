#pragma once
// The framework log: category, message, source path, line and function name.
// The shipped back end writes nothing; tests install a sink to see the lines.

#include <functional>
#include <sstream>
#include <string>

namespace FB { namespace Log {

enum class Level { Trace, Info, Warn };

struct Record {
    Level level;
    std::string category;
    std::string message;
    const char* file;
    int line;
    const char* function;
};

using Sink = std::function<void(const Record&)>;

// Replaces the back end; an empty sink restores the silent default. Returns the old one.
Sink setSink(Sink sink);

void write(Level level, const std::string& category, const std::string& message,
           const char* file, int line, const char* function);

}} // namespace FB::Log

#define FB_LOG_AT(lvl, category, streamed)                                         \
    do {                                                                           \
        std::ostringstream fb_log_os_;                                             \
        fb_log_os_ << streamed;                                                    \
        ::FB::Log::write(lvl, category, fb_log_os_.str(), __FILE__, __LINE__,      \
                         __func__);                                                \
    } while (0)

#define FBLOG_TRACE(category, streamed) FB_LOG_AT(::FB::Log::Level::Trace, category, streamed)
#define FBLOG_INFO(category, streamed) FB_LOG_AT(::FB::Log::Level::Info, category, streamed)
#define FBLOG_WARN(category, streamed) FB_LOG_AT(::FB::Log::Level::Warn, category, streamed)
