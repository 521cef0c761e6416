#include "logging.h"

#include <mutex>
#include <utility>

namespace FB { namespace Log {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
Sink& currentSink() {
    static Sink s;
    return s;
}
} // namespace

Sink setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    std::swap(currentSink(), sink);
    return sink;
}

void write(Level level, const std::string& category, const std::string& message,
           const char* file, int line, const char* function) {
    Sink sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = currentSink();
    }
    if (sink)
        sink(Record{level, category, message, file, line, function});
}

}} // namespace FB::Log
