#pragma once
// What one download of the probe saw, told to the page's callback once the stream has
// completed: opened or not, the bytes and chunks, the progress figures, the response's
// first header line. With a close limit the sink ends the stream itself once that many
// bytes have arrived, from inside the browser's write.

#include "APITypes.h"
#include "PluginEventSink.h"
#include "variant.h"

#include <cstdint>
#include <functional>
#include <string>

namespace orv { namespace probe {

class DownloadSink : public FB::PluginEventSink {
public:
    using Done = std::function<void(DownloadSink& sink, const FB::VariantMap& report)>;
    // done: called once, on the main thread, with the report.
    DownloadSink(std::string url, long closeAfter, Done done);

    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) override;

private:
    FB::VariantMap report() const;
    void reportOnce();

    std::string m_url;
    long m_closeAfter;
    Done m_done;
    bool m_created = false;
    bool m_opened = false;
    bool m_failedOpen = false;
    bool m_reported = false;
    bool m_completed = false;
    bool m_closing = false;
    bool m_closedEarly = false;
    bool m_closeAnswer = false;
    bool m_success = false;
    bool m_progressRises = true;
    long m_bytes = 0;
    long m_chunks = 0;
    long m_largestChunk = 0;
    double m_firstProgress = -1;
    double m_lastProgress = -1;
    std::uint32_t m_length = 0;
    std::string m_head;  // the first bytes (reported in hex)
    std::string m_status;
    std::string m_mimeType;
    std::string m_cacheFile;  // where the browser kept the whole resource, if it did
    std::string m_order;  // one letter per event: c(reated) o(pened) d(ata) f(ailed open) C(ompleted)
};

}} // namespace orv::probe
