#include "DownloadSink.h"

#include "BrowserStream.h"
#include "BrowserStreamEvents.h"

#include <algorithm>
#include <utility>

namespace orv { namespace probe {

namespace {

// Bytes as the page can compare them whatever they are.
std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

} // namespace

DownloadSink::DownloadSink(std::string url, long closeAfter, Done done)
    : m_url(std::move(url)), m_closeAfter(closeAfter), m_done(std::move(done)) {}

bool DownloadSink::handleEvent(FB::PluginEvent* event, FB::PluginEventSource*) {
    if (dynamic_cast<FB::StreamCreatedEvent*>(event)) {
        m_created = true;
        m_order += 'c';
    } else if (auto* opened = dynamic_cast<FB::StreamOpenedEvent*>(event)) {
        m_opened = true;
        m_order += 'o';
        m_mimeType = opened->stream->getMimeType();
        m_length = opened->stream->getLength();
        const std::string headers = opened->stream->getHeaders();
        m_status = headers.substr(0, headers.find('\n'));
    } else if (auto* data = dynamic_cast<FB::StreamDataArrivedEvent*>(event)) {
        if (m_order.empty() || m_order.back() != 'd')
            m_order += 'd';
        ++m_chunks;
        m_bytes += static_cast<long>(data->length);
        m_largestChunk = std::max(m_largestChunk, static_cast<long>(data->length));
        if (m_head.size() < 64)
            m_head.append(static_cast<const char*>(data->data), std::min<std::size_t>(data->length, 64 - m_head.size()));
        if (m_firstProgress < 0)
            m_firstProgress = data->progress;
        if (data->progress < m_lastProgress)
            m_progressRises = false;
        m_lastProgress = data->progress;
        if (m_closeAfter >= 0 && m_bytes >= m_closeAfter && !m_closedEarly) {
            // The completion comes from inside close(); the report waits for its answer.
            m_closedEarly = true;
            m_closing = true;
            m_closeAnswer = data->stream->close();
            m_closing = false;
            reportOnce();
        }
    } else if (dynamic_cast<FB::StreamFailedOpenEvent*>(event)) {
        m_failedOpen = true;
        m_order += 'f';
    } else if (auto* completed = dynamic_cast<FB::StreamCompletedEvent*>(event)) {
        m_order += 'C';
        m_success = completed->success;
        m_completed = true;
        for (wchar_t c : completed->stream->getCacheFilename())
            m_cacheFile.push_back(static_cast<char>(c));
        if (!m_closing)
            reportOnce();
    }
    return false;
}

void DownloadSink::reportOnce() {
    if (m_completed && !m_reported) {
        m_reported = true;
        m_done(*this, report());
    }
}

FB::VariantMap DownloadSink::report() const {
    return FB::VariantMap{
        {"url", m_url},
        {"created", m_created},
        {"opened", m_opened},
        {"failedOpen", m_failedOpen},
        {"success", m_success},
        {"bytes", m_bytes},
        {"chunks", m_chunks},
        {"largestChunk", m_largestChunk},
        {"firstProgress", m_firstProgress},
        {"lastProgress", m_lastProgress},
        {"progressRises", m_progressRises},
        {"length", static_cast<long>(m_length)},
        {"head", hex(m_head)},
        {"status", m_status},
        {"mimeType", m_mimeType},
        {"closedEarly", m_closedEarly},
        {"closeAnswer", m_closeAnswer},
        {"order", m_order},
        {"cacheFile", m_cacheFile},
    };
}

}} // namespace orv::probe
