#pragma once
// Installs itself as the framework log's sink for its lifetime and keeps every record.

#include "logging.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace orv { namespace test {

class LogCapture {
public:
    LogCapture() {
        m_previous = FB::Log::setSink([this](const FB::Log::Record& r) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_records.push_back(r);
        });
    }
    ~LogCapture() { FB::Log::setSink(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<FB::Log::Record> records() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    int count(FB::Log::Level level, const std::string& category, const std::string& message) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count_if(m_records.begin(), m_records.end(), [&](const FB::Log::Record& r) {
            return r.level == level && r.category == category && r.message == message;
        }));
    }

private:
    mutable std::mutex m_mutex;
    std::vector<FB::Log::Record> m_records;
    FB::Log::Sink m_previous;
};

}} // namespace orv::test
