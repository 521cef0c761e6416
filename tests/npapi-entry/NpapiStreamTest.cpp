// Streams of one instance, driven as a browser drives them: the plug-in asks through its
// host, the fake browser records the request, and the test plays the browser's side
// through the instance entries of the plug-in table. Uses the factory of
// NpapiEntryTest.cpp (a plain plug-in object when no failure is asked for).

#include "BrowserStreamEvents.h"
#include "FakeNpapiBrowser.h"
#include "NpapiBrowserHost.h"
#include "NpapiEntryPoints.h"
#include "NpapiStream.h"
#include "PluginEventSink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv { namespace test {
namespace {

// What a stream told its observer, one line per event.
class StreamRecorder : public FB::PluginEventSink {
public:
    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource*) override {
        if (dynamic_cast<FB::StreamCreatedEvent*>(event)) {
            events.push_back("created");
        } else if (dynamic_cast<FB::StreamOpenedEvent*>(event)) {
            events.push_back("opened");
        } else if (auto* data = dynamic_cast<FB::StreamDataArrivedEvent*>(event)) {
            char progress[32];
            std::snprintf(progress, sizeof(progress), "%.2f", data->progress);
            events.push_back("data:" + std::to_string(data->length) + "@" + std::to_string(data->dataPosition) + ":" +
                             progress);
            bytes.append(static_cast<const char*>(data->data), data->length);
        } else if (dynamic_cast<FB::StreamFailedOpenEvent*>(event)) {
            events.push_back("failedopen");
        } else if (auto* completed = dynamic_cast<FB::StreamCompletedEvent*>(event)) {
            events.push_back(completed->success ? "completed:ok" : "completed:failed");
        } else if (dynamic_cast<FB::StreamDestroyedEvent*>(event)) {
            events.push_back("destroyed");
        }
        if (then)
            then(event);
        return false;
    }

    std::vector<std::string> events;
    std::string bytes;
    std::function<void(FB::PluginEvent*)> then;
};

using Events = std::vector<std::string>;

class NpapiStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&funcs, 0, sizeof(funcs));
        ASSERT_EQ(FB::Npapi::initializeModule(browser.table()), NPERR_NO_ERROR);
        ASSERT_EQ(FB::Npapi::getEntryPoints(&funcs), NPERR_NO_ERROR);
        npp = browser.instance(0);
        ASSERT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), npp, NP_EMBED, 0, nullptr, nullptr, nullptr),
                  NPERR_NO_ERROR);
        host = static_cast<FB::Npapi::NpapiInstanceData*>(npp->pdata)->host;
        recorder = std::make_shared<StreamRecorder>();
    }

    void TearDown() override {
        recorder.reset();
        if (npp->pdata) {
            EXPECT_EQ(funcs.destroy(npp, nullptr), NPERR_NO_ERROR);
        }
        host.reset();
        browser.destroyInstance(npp);
        FB::Npapi::shutdownModule();
    }

    // A stream of this instance's host, and the notify data the browser was given for it.
    FB::BrowserStreamPtr open(const std::string& url, bool cache = false, bool seekable = false,
                              size_t bufferSize = 4096) {
        FB::BrowserStreamPtr stream = host->createStream(url, recorder, cache, seekable, bufferSize);
        if (stream) {
            EXPECT_FALSE(browser.urlRequests().empty());
            notifyData = browser.urlRequests().back().notifyData;
        }
        return stream;
    }

    std::vector<std::string> browserCalls(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& call : browser.calls())
            if (call.compare(0, prefix.size(), prefix) == 0)
                found.push_back(call);
        return found;
    }

    FakeNpapiBrowser browser;
    NPPluginFuncs funcs;
    NPP npp = nullptr;
    FB::Npapi::NpapiBrowserHostPtr host;
    std::shared_ptr<StreamRecorder> recorder;
    void* notifyData = nullptr;
};

TEST_F(NpapiStreamTest, DeliversADownloadInChunksWithProgress) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/data.bin");
    ASSERT_TRUE(stream);
    EXPECT_EQ(browserCalls("geturlnotify"), Events{"geturlnotify:http://127.0.0.1/data.bin"});
    EXPECT_EQ(notifyData, stream.get());
    std::weak_ptr<FB::BrowserStream> weak = stream;

    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/data.bin", notifyData, 10000,
                           "HTTP/1.0 200 OK\nContent-Type: application/octet-stream\n");
    ASSERT_EQ(feed.start("application/octet-stream"), NPERR_NO_ERROR);
    EXPECT_EQ(feed.type, NP_NORMAL);
    EXPECT_TRUE(stream->isOpen());
    EXPECT_EQ(stream->getMimeType(), "application/octet-stream");
    EXPECT_EQ(stream->getLength(), 10000u);
    EXPECT_EQ(stream->getHeaders(), "HTTP/1.0 200 OK\nContent-Type: application/octet-stream\n");

    std::string body(10000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    EXPECT_EQ(feed.deliver(body.substr(0, 8000), 0), 8000);
    // The plug-in takes no more than its buffer; the browser offers the rest again.
    EXPECT_EQ(funcs.write(npp, &feed.stream, 8000, 2000, &body[8000]), 2000);
    EXPECT_EQ(feed.writeSizes, (std::vector<int32_t>{4096, 3904}));
    ASSERT_EQ(feed.destroy(NPRES_DONE), NPERR_NO_ERROR);
    feed.notify(NPRES_DONE);

    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:4096@0:40.96", "data:3904@4096:80.00",
                                        "data:2000@8000:100.00", "completed:ok"}));
    EXPECT_EQ(recorder->bytes, body);
    EXPECT_TRUE(stream->isCompleted());
    EXPECT_FALSE(stream->isOpen());
    // The browser ended the stream itself; the plug-in does not end it again.
    EXPECT_TRUE(browserCalls("destroystream").empty());
    stream.reset();
    EXPECT_TRUE(weak.expired()) << "a finished stream is kept by nobody";
}

TEST_F(NpapiStreamTest, OneWriteTakesAtMostTheBufferAndReportsProgressOfWhatWasDelivered) {
    const struct {
        uint32_t end;
        int32_t offset;
        int32_t length;
        int32_t taken;
        const char* event;
    } cases[] = {
        {10000, 4000, 1000, 1000, "data:1000@4000:50.00"},
        {0, 0, 8000, 4096, "data:4096@0:0.00"},  // no total length: no progress
        {20000, 0, 8000, 4096, "data:4096@0:40.00"},
        {0xFFFFFFFFu, 0, 10, 10, "data:10@0:0.00"},
        {100, 0, 0, 0, nullptr},  // nothing delivered, nothing told
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event ? c.event : "empty");
        recorder->events.clear();
        FB::BrowserStreamPtr stream = open("file:///tmp/x");
        ASSERT_TRUE(stream);
        BrowserStreamFeed feed(funcs, npp, "file:///tmp/x", notifyData, c.end);
        ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
        std::string data(static_cast<size_t>(c.length) + 1, 'x');
        EXPECT_EQ(funcs.write(npp, &feed.stream, c.offset, c.length, &data[0]), c.taken);
        Events expected{"created", "opened"};
        if (c.event)
            expected.push_back(c.event);
        EXPECT_EQ(recorder->events, expected);
        feed.destroy(NPRES_DONE);
        feed.notify(NPRES_DONE);
    }
}

TEST_F(NpapiStreamTest, StreamTypeFollowsWhatWasAskedAndWhatTheBrowserCanDo) {
    const struct {
        bool cache;
        bool seek;
        bool browserSeekable;
        NPError result;
        uint16_t type;
        Events events;
    } cases[] = {
        {false, false, false, NPERR_NO_ERROR, NP_NORMAL, {"created", "opened"}},
        {false, false, true, NPERR_NO_ERROR, NP_NORMAL, {"created", "opened"}},
        {true, false, false, NPERR_NO_ERROR, NP_ASFILE, {"created", "opened"}},
        {false, true, true, NPERR_NO_ERROR, NP_SEEK, {"created", "opened"}},
        {true, true, true, NPERR_NO_ERROR, NP_SEEK, {"created", "opened"}},
        {false, true, false, NPERR_STREAM_NOT_SEEKABLE, NP_NORMAL, {"created", "failedopen"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.cache) + std::to_string(c.seek) + std::to_string(c.browserSeekable));
        recorder->events.clear();
        FB::BrowserStreamPtr stream = open("http://127.0.0.1/s", c.cache, c.seek);
        ASSERT_TRUE(stream);
        std::weak_ptr<FB::BrowserStream> weak = stream;
        BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/s", notifyData, 50);
        EXPECT_EQ(feed.start("text/plain", c.browserSeekable), c.result);
        EXPECT_EQ(feed.type, c.type);
        EXPECT_EQ(recorder->events, c.events);
        EXPECT_EQ(stream->isSeekable(), c.seek && c.browserSeekable);
        if (c.result == NPERR_NO_ERROR) {
            feed.destroy(NPRES_NETWORK_ERR);
        } else {
            // A browser does not call NPP_DestroyStream for a stream it could not start.
            EXPECT_EQ(static_cast<FB::Npapi::NpapiStream*>(stream.get())->getStreamPtr(), nullptr);
        }
        feed.notify(NPRES_NETWORK_ERR);
        EXPECT_EQ(recorder->events.back(), "completed:failed");
        stream.reset();
        EXPECT_TRUE(weak.expired());
    }
}

TEST_F(NpapiStreamTest, FailuresCompleteOnceWithoutSuccess) {
    // HTTP 404 as QtWebKit reports it: the stream starts with the error's headers, then ends
    // with a network error and no data. A missing file: only the URL notification.
    const struct {
        const char* name;
        bool starts;
        Events events;
    } cases[] = {
        {"404", true, {"created", "opened", "completed:failed"}},
        {"missing file", false, {"created", "completed:failed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        recorder->events.clear();
        FB::BrowserStreamPtr stream = open("http://127.0.0.1/missing");
        ASSERT_TRUE(stream);
        std::weak_ptr<FB::BrowserStream> weak = stream;
        BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/missing", notifyData, 0,
                               "HTTP/1.0 404 Not Found\nContent-Type: text/html\n");
        if (c.starts) {
            ASSERT_EQ(feed.start("text/html"), NPERR_NO_ERROR);
            EXPECT_EQ(feed.destroy(NPRES_NETWORK_ERR), NPERR_NO_ERROR);
        }
        feed.notify(NPRES_NETWORK_ERR);
        EXPECT_EQ(recorder->events, c.events);
        EXPECT_TRUE(stream->isCompleted());
        stream.reset();
        EXPECT_TRUE(weak.expired());
    }
}

TEST_F(NpapiStreamTest, UrlNotifyBeforeDestroyStreamKeepsTheStreamUntilTheBrowserIsDone) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/early-notify");
    ASSERT_TRUE(stream);
    std::weak_ptr<FB::BrowserStream> weak = stream;
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/early-notify", notifyData, 3);
    ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
    EXPECT_EQ(feed.deliver("abc", 0), 3);
    feed.notify(NPRES_DONE);
    EXPECT_EQ(browserCalls("destroystream"), Events{"destroystream:2"});
    stream.reset();
    ASSERT_FALSE(weak.expired()) << "the browser still names the stream in NPP_DestroyStream";
    EXPECT_EQ(feed.destroy(NPRES_DONE), NPERR_NO_ERROR);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:3@0:100.00", "completed:ok", "destroyed"}));
}

// Whichever comes first, and wherever the browser takes NPP_URLNotify's notify data from
// (its request, or the NPStream as Firefox-family browsers do, after NPP_DestroyStream),
// a finished download completes once and is let go of when the browser is done with it.
TEST_F(NpapiStreamTest, FinishedStreamIsLetGoOfInEitherOrderWhereverTheNotifyDataComesFrom) {
    for (bool destroyFirst : {true, false}) {
        for (bool fromStream : {true, false}) {
            SCOPED_TRACE(std::string(destroyFirst ? "destroy first" : "notify first") +
                         (fromStream ? ", notify data from the stream" : ", notify data from the request"));
            recorder = std::make_shared<StreamRecorder>();
            FB::BrowserStreamPtr stream = open("http://127.0.0.1/order");
            ASSERT_TRUE(stream);
            std::weak_ptr<FB::BrowserStream> weak = stream;
            BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/order", notifyData, 3);
            feed.notifyDataFromStream = fromStream;
            ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
            EXPECT_EQ(feed.deliver("abc", 0), 3);
            stream.reset();
            if (destroyFirst) {
                EXPECT_EQ(feed.destroy(NPRES_DONE), NPERR_NO_ERROR);
                EXPECT_FALSE(weak.expired()) << "the browser still names the stream in NPP_URLNotify";
                feed.notify(NPRES_DONE);
            } else {
                feed.notify(NPRES_DONE);
                EXPECT_FALSE(weak.expired()) << "the browser still names the stream in NPP_DestroyStream";
                EXPECT_EQ(feed.destroy(NPRES_DONE), NPERR_NO_ERROR);
            }
            EXPECT_TRUE(weak.expired()) << "a finished download stays in memory";
            EXPECT_EQ(recorder->events[3], "completed:ok");
            EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "completed:ok"), 1);
            EXPECT_EQ(std::count(recorder->events.begin(), recorder->events.end(), "destroyed"), 1);
        }
    }
}

// NPStream.headers came with version 17: an older browser's NPStream ends before it, so
// whatever lies there is not the response's headers and is not read.
TEST(NpapiStreamHeadersTest, ReadOnlyFromBrowsersWhoseStreamHasThem) {
    for (uint16_t version : {uint16_t(16), uint16_t(17)}) {
        SCOPED_TRACE(version);
        FakeNpapiBrowser browser(version);
        NPPluginFuncs funcs;
        std::memset(&funcs, 0, sizeof(funcs));
        ASSERT_EQ(FB::Npapi::initializeModule(browser.table()), NPERR_NO_ERROR);
        ASSERT_EQ(FB::Npapi::getEntryPoints(&funcs), NPERR_NO_ERROR);
        NPP npp = browser.instance(0);
        ASSERT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), npp, NP_EMBED, 0, nullptr, nullptr, nullptr),
                  NPERR_NO_ERROR);
        {
            FB::Npapi::NpapiBrowserHostPtr host = static_cast<FB::Npapi::NpapiInstanceData*>(npp->pdata)->host;
            FB::BrowserStreamPtr stream = host->createStream("http://127.0.0.1/headers", nullptr, false, false, 64);
            ASSERT_TRUE(stream);
            BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/headers", browser.urlRequests().back().notifyData,
                                   2, "X-Beyond-The-Stream: 1\n");
            ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
            EXPECT_EQ(stream->getHeaders(), version >= 17 ? "X-Beyond-The-Stream: 1\n" : "");
            EXPECT_EQ(feed.deliver("ok", 0), 2);
            EXPECT_EQ(feed.destroy(NPRES_DONE), NPERR_NO_ERROR);
            feed.notify(NPRES_DONE);
        }
        EXPECT_EQ(funcs.destroy(npp, nullptr), NPERR_NO_ERROR);
        browser.destroyInstance(npp);
        FB::Npapi::shutdownModule();
    }
}

// An observer told that the stream is being destroyed may still use it: the stream is
// whole while it hears of it.
TEST_F(NpapiStreamTest, AnObserverToldOfTheDestructionMayStillCloseTheStream) {
    int closeAnswers = 0;
    recorder->then = [&](FB::PluginEvent* e) {
        if (auto* destroyed = dynamic_cast<FB::StreamDestroyedEvent*>(e)) {
            EXPECT_FALSE(destroyed->stream->close()) << "nothing is left to close";
            ++closeAnswers;
        }
    };
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/closing");
    ASSERT_TRUE(stream);
    std::weak_ptr<FB::BrowserStream> weak = stream;
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/closing", notifyData, 3);
    ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
    EXPECT_EQ(feed.deliver("abc", 0), 3);
    stream.reset();
    EXPECT_EQ(feed.destroy(NPRES_DONE), NPERR_NO_ERROR);
    feed.notify(NPRES_DONE);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(closeAnswers, 1);
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:3@0:100.00", "completed:ok", "destroyed"}));
}

TEST_F(NpapiStreamTest, ClosedFromInsideAWriteWithABrowserThatAnswersAtOnce) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/long");
    ASSERT_TRUE(stream);
    std::weak_ptr<FB::BrowserStream> weak = stream;
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/long", notifyData, 100000);
    // As WebKit does: NPN_DestroyStream calls NPP_DestroyStream and NPP_URLNotify before
    // it returns.
    browser.onDestroyStream = [&](NPStream* s, NPReason reason) {
        EXPECT_EQ(s, &feed.stream);
        EXPECT_EQ(funcs.destroystream(npp, s, reason), NPERR_NO_ERROR);
        feed.notify(reason);
    };
    bool closed = false;
    recorder->then = [&](FB::PluginEvent* event) {
        if (dynamic_cast<FB::StreamDataArrivedEvent*>(event) && stream) {
            FB::BrowserStreamPtr held = stream;
            stream.reset();  // the closing observer lets go of its last handle first
            closed = held->close();
        }
    };
    ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
    std::string data(5000, 'd');
    EXPECT_EQ(funcs.write(npp, &feed.stream, 0, 5000, &data[0]), 4096);
    EXPECT_TRUE(closed);
    EXPECT_EQ(browserCalls("destroystream"), Events{"destroystream:2"});
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:4096@0:5.00", "completed:failed", "destroyed"}));
    EXPECT_TRUE(weak.expired());
    // A browser that still writes for the ended stream is refused.
    EXPECT_EQ(funcs.writeready(npp, &feed.stream), -1);
    EXPECT_EQ(funcs.write(npp, &feed.stream, 4096, 904, &data[0]), -1);
}

TEST_F(NpapiStreamTest, ClosedEarlyWithABrowserThatAnswersLater) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/long");
    ASSERT_TRUE(stream);
    std::weak_ptr<FB::BrowserStream> weak = stream;
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/long", notifyData, 100);
    ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
    EXPECT_EQ(feed.deliver(std::string(10, 'a'), 0), 10);
    EXPECT_TRUE(stream->close());
    EXPECT_FALSE(stream->close()) << "closed once";
    // Data the browser had already queued is taken and not told.
    EXPECT_EQ(feed.deliver(std::string(10, 'b'), 10), 10);
    stream.reset();
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(feed.destroy(NPRES_USER_BREAK), NPERR_NO_ERROR);
    feed.notify(NPRES_USER_BREAK);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:10@0:10.00", "completed:failed", "destroyed"}));
    EXPECT_EQ(browserCalls("destroystream"), Events{"destroystream:2"});
}

TEST_F(NpapiStreamTest, ClosedBeforeTheBrowserStartedItIsRefusedThere) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/never");
    ASSERT_TRUE(stream);
    std::weak_ptr<FB::BrowserStream> weak = stream;
    EXPECT_FALSE(stream->close()) << "no browser stream to end yet";
    stream.reset();
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/never", notifyData, 100);
    EXPECT_EQ(feed.start(), NPERR_GENERIC_ERROR);
    feed.notify(NPRES_USER_BREAK);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(recorder->events, (Events{"created", "completed:failed", "destroyed"}));
    EXPECT_TRUE(browserCalls("destroystream").empty());
}

TEST_F(NpapiStreamTest, SeekableStreamReadsRangesAndStaysOpenAfterItsTransfer) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/seek", false, true);
    ASSERT_TRUE(stream);
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/seek", notifyData, 1000);
    EXPECT_FALSE(stream->readRange(0, 10)) << "not open yet";
    ASSERT_EQ(feed.start("text/plain", true), NPERR_NO_ERROR);
    ASSERT_EQ(feed.type, NP_SEEK);

    EXPECT_TRUE(stream->readRanges({}));
    EXPECT_TRUE(browser.readRequests().empty()) << "nothing to ask for";
    EXPECT_TRUE(stream->readRanges({{0, 100}, {200, 300}}));
    EXPECT_TRUE(stream->readRange(900, 1000));
    EXPECT_FALSE(stream->readRange(10, 5)) << "backwards";
    EXPECT_FALSE(stream->readRange(0x80000000u, 0x80000010u)) << "beyond what NPByteRange holds";
    EXPECT_EQ(browser.readRequests(), (Events{"0+100,200+100", "900+100"}));
    browser.failing("requestread");
    EXPECT_FALSE(stream->readRange(0, 1));
    browser.failing("requestread", false);

    EXPECT_EQ(feed.deliver(std::string(100, 'r'), 200), 100);
    // The transfer ends well: the stream stays open for more ranges.
    feed.notify(NPRES_DONE);
    EXPECT_TRUE(stream->isOpen());
    EXPECT_FALSE(stream->isCompleted());
    EXPECT_TRUE(stream->readRange(0, 1));
    EXPECT_TRUE(stream->close());
    EXPECT_EQ(feed.destroy(NPRES_USER_BREAK), NPERR_NO_ERROR);
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:100@200:30.00", "completed:ok"}));
}

TEST_F(NpapiStreamTest, SeekableStreamThatFailsClosesAndReportsIt) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/seek", false, true);
    ASSERT_TRUE(stream);
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/seek", notifyData, 1000);
    ASSERT_EQ(feed.start("text/plain", true), NPERR_NO_ERROR);
    EXPECT_EQ(feed.destroy(NPRES_NETWORK_ERR), NPERR_NO_ERROR);
    feed.notify(NPRES_NETWORK_ERR);
    EXPECT_FALSE(stream->isOpen());
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "completed:failed"}));
    EXPECT_FALSE(stream->readRange(0, 1));
}

TEST_F(NpapiStreamTest, WritesToTheBrowserOnlyWhileOpen) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/up");
    ASSERT_TRUE(stream);
    size_t written = 99;
    EXPECT_FALSE(stream->write("abc", 3, written));
    EXPECT_EQ(written, 0u);
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/up", notifyData);
    ASSERT_EQ(feed.start(), NPERR_NO_ERROR);
    EXPECT_TRUE(stream->write("abc", 3, written));
    EXPECT_EQ(written, 3u);
    browser.writeAnswer = 1;
    EXPECT_FALSE(stream->write("abc", 3, written)) << "the browser took only part";
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(browserCalls("write"), (Events{"write:3", "write:3"}));
    feed.destroy(NPRES_DONE);
    feed.notify(NPRES_DONE);
    EXPECT_FALSE(stream->write("abc", 3, written));
}

TEST_F(NpapiStreamTest, ARequestTheBrowserRefusesMakesNoStream) {
    browser.failing("geturlnotify");
    std::weak_ptr<FB::BrowserStream> weak;
    EXPECT_EQ(host->createStream("http://x/", recorder, false, false, 10), nullptr);
    EXPECT_TRUE(recorder->events.empty());
    browser.failing("geturlnotify", false);

    // A browser that fails the request from inside NPN_GetURLNotify and still answers 0.
    browser.onGetURLNotify = [&](const FakeNpapiBrowser::UrlRequest& request) {
        funcs.urlnotify(request.npp, request.url.c_str(), NPRES_NETWORK_ERR, request.notifyData);
    };
    FB::BrowserStreamPtr stream = host->createStream("file:///nope", recorder, false, false, 10);
    ASSERT_TRUE(stream);
    weak = stream;
    EXPECT_TRUE(stream->isCompleted());
    stream.reset();
    EXPECT_TRUE(weak.expired()) << "an ended request is not kept";
    EXPECT_EQ(recorder->events, (Events{"completed:failed", "created", "destroyed"}));
}

TEST_F(NpapiStreamTest, InstanceDestroyedWithStreamsInEveryStateLeavesNothing) {
    std::vector<std::weak_ptr<FB::BrowserStream>> weak;
    FB::BrowserStreamPtr requested = open("http://127.0.0.1/requested");
    void* requestedData = notifyData;
    FB::BrowserStreamPtr running = open("http://127.0.0.1/running");
    BrowserStreamFeed runningFeed(funcs, npp, "http://127.0.0.1/running", notifyData, 100);
    ASSERT_EQ(runningFeed.start(), NPERR_NO_ERROR);
    EXPECT_EQ(runningFeed.deliver("12345", 0), 5);
    FB::BrowserStreamPtr ended = open("http://127.0.0.1/ended");
    BrowserStreamFeed endedFeed(funcs, npp, "http://127.0.0.1/ended", notifyData, 5);
    ASSERT_EQ(endedFeed.start(), NPERR_NO_ERROR);
    ASSERT_EQ(endedFeed.destroy(NPRES_DONE), NPERR_NO_ERROR);  // its URLNotify never comes
    for (const auto& s : {requested, running, ended})
        weak.push_back(s);
    requested.reset();
    running.reset();
    ended.reset();
    recorder->events.clear();
    browser.clearCalls();

    ASSERT_EQ(funcs.destroy(npp, nullptr), NPERR_NO_ERROR);
    // The unfinished ones hear that they ended; the browser, which ends its streams with
    // the instance, is not called.
    EXPECT_EQ(recorder->events, (Events{"completed:failed", "completed:failed", "destroyed", "destroyed",
                                        "destroyed"}));
    EXPECT_TRUE(browserCalls("destroystream").empty());
    for (const auto& w : weak)
        EXPECT_TRUE(w.expired());

    // A browser that still calls for the ended instance reaches nothing.
    EXPECT_EQ(runningFeed.start(), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(funcs.writeready(npp, &runningFeed.stream), -1);
    EXPECT_EQ(runningFeed.deliver("67890", 5), -1);
    EXPECT_EQ(runningFeed.destroy(NPRES_DONE), NPERR_INVALID_INSTANCE_ERROR);
    runningFeed.notify(NPRES_DONE);
    endedFeed.notify(NPRES_DONE);
    funcs.urlnotify(npp, "http://127.0.0.1/requested", NPRES_DONE, requestedData);
    funcs.asfile(npp, &runningFeed.stream, "/tmp/f");
}

TEST_F(NpapiStreamTest, StreamEntriesRefuseWhatNoBrowserShouldSend) {
    FB::BrowserStreamPtr stream = open("http://127.0.0.1/bad", true);
    ASSERT_TRUE(stream);
    BrowserStreamFeed feed(funcs, npp, "http://127.0.0.1/bad", notifyData, 100);
    uint16_t type = 0;
    EXPECT_EQ(funcs.newstream(npp, const_cast<char*>("text/plain"), nullptr, false, &type), NPERR_INVALID_PARAM);
    EXPECT_EQ(funcs.newstream(npp, const_cast<char*>("text/plain"), &feed.stream, false, nullptr),
              NPERR_INVALID_PARAM);
    ASSERT_EQ(funcs.newstream(npp, nullptr, &feed.stream, false, &type), NPERR_NO_ERROR);
    EXPECT_EQ(stream->getMimeType(), "");
    EXPECT_EQ(type, NP_ASFILE);

    char buffer[16] = "0123456789abcde";
    const struct {
        const char* name;
        NPStream* stream;
        int32_t offset;
        int32_t length;
        void* buffer;
        int32_t answer;
    } writes[] = {
        {"null stream", nullptr, 0, 4, buffer, -1},
        {"negative length", &feed.stream, 0, -5, buffer, -1},
        {"negative offset", &feed.stream, -1, 4, buffer, -1},
        {"no data behind a length", &feed.stream, 0, 4, nullptr, -1},
        {"nothing", &feed.stream, 0, 0, nullptr, 0},
        {"fine", &feed.stream, 0, 4, buffer, 4},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.name);
        EXPECT_EQ(funcs.write(npp, w.stream, w.offset, w.length, w.buffer), w.answer);
    }
    EXPECT_EQ(recorder->events, (Events{"created", "opened", "data:4@0:4.00"}));
    EXPECT_EQ(funcs.writeready(npp, nullptr), -1);
    EXPECT_EQ(funcs.destroystream(npp, nullptr, NPRES_DONE), NPERR_INVALID_PARAM);

    // A second browser stream for the same request.
    NPStream twin = feed.stream;
    EXPECT_EQ(funcs.newstream(npp, const_cast<char*>("text/html"), &twin, false, &type), NPERR_GENERIC_ERROR);
    EXPECT_EQ(static_cast<FB::Npapi::NpapiStream*>(stream.get())->getStreamPtr(), &feed.stream);
    EXPECT_EQ(stream->getMimeType(), "");

    // A name no request of this instance gave: a made-up value, or another instance's.
    int foreign = 0;
    NPStream stranger = feed.stream;
    stranger.notifyData = &foreign;
    uint16_t strangerType = 77;
    EXPECT_EQ(funcs.newstream(npp, const_cast<char*>("text/plain"), &stranger, false, &strangerType), NPERR_NO_ERROR);
    EXPECT_EQ(strangerType, 77);
    EXPECT_EQ(funcs.writeready(npp, &stranger), -1);
    EXPECT_EQ(funcs.write(npp, &stranger, 0, 4, buffer), -1);
    EXPECT_EQ(funcs.destroystream(npp, &stranger, NPRES_DONE), NPERR_NO_ERROR);
    funcs.urlnotify(npp, "x", NPRES_DONE, &foreign);
    funcs.asfile(npp, &stranger, "/tmp/other");
    NPP other = browser.instance(1);
    ASSERT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), other, NP_EMBED, 0, nullptr, nullptr, nullptr),
              NPERR_NO_ERROR);
    EXPECT_EQ(funcs.write(other, &feed.stream, 4, 4, buffer), -1);
    funcs.urlnotify(other, "x", NPRES_DONE, notifyData);
    EXPECT_FALSE(stream->isCompleted()) << "only its own instance ends a stream";
    EXPECT_EQ(funcs.destroy(other, nullptr), NPERR_NO_ERROR);

    // A cache file name arrives byte by byte; none at all is ignored.
    funcs.asfile(npp, &feed.stream, nullptr);
    EXPECT_EQ(stream->getCacheFilename(), L"");
    funcs.asfile(npp, &feed.stream, "/tmp/\xc3\xa9");
    EXPECT_EQ(stream->getCacheFilename(), std::wstring(L"/tmp/\u00c3\u00a9"));
    EXPECT_EQ(recorder->events.size(), 3u);
    feed.destroy(NPRES_DONE);
    feed.notify(NPRES_DONE);
}

TEST_F(NpapiStreamTest, StreamEntriesWithoutAnInstance) {
    NPP_t empty = {nullptr, nullptr};
    NPStream stream;
    std::memset(&stream, 0, sizeof(stream));
    char buffer[4] = {};
    uint16_t type = 0;
    for (NPP bad : {static_cast<NPP>(nullptr), &empty}) {
        SCOPED_TRACE(bad ? "null pdata" : "null NPP");
        EXPECT_EQ(funcs.newstream(bad, const_cast<char*>("text/plain"), &stream, false, &type),
                  NPERR_INVALID_INSTANCE_ERROR);
        EXPECT_EQ(funcs.destroystream(bad, &stream, NPRES_DONE), NPERR_INVALID_INSTANCE_ERROR);
        // A positive count would tell the browser its bytes were taken.
        EXPECT_EQ(funcs.writeready(bad, &stream), -1);
        EXPECT_EQ(funcs.write(bad, &stream, 0, 4, buffer), -1);
        funcs.asfile(bad, &stream, "/tmp/f");
        funcs.urlnotify(bad, "u", NPRES_DONE, &stream);
        EXPECT_EQ(funcs.newstream(bad, nullptr, nullptr, false, nullptr), NPERR_INVALID_INSTANCE_ERROR);
        EXPECT_EQ(funcs.writeready(bad, nullptr), -1);
        EXPECT_EQ(funcs.write(bad, nullptr, -1, -1, nullptr), -1);
        funcs.asfile(bad, nullptr, nullptr);
        funcs.urlnotify(bad, nullptr, NPRES_DONE, nullptr);
    }
}

} // namespace
}} // namespace orv::test
