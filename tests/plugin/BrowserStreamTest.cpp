// Browser streams through the test host: what the observers hear as the browser reports
// progress, and how the host's stream manager keeps streams until they complete and
// closes the rest at shutdown. The real browsers' streams come with the adapters.

#include "BrowserHost.h"
#include "BrowserStream.h"
#include "BrowserStreamManager.h"
#include "LogCapture.h"
#include "PluginWindowless.h"
#include "TestBrowserHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using orv::test::LogCapture;
using orv::test::MainThreadQueue;
using orv::test::TestBrowserHost;

class TestStream : public FB::BrowserStream {
public:
    using FB::BrowserStream::BrowserStream;
    using FB::BrowserStream::signalCompleted;
    using FB::BrowserStream::signalDataArrived;
    using FB::BrowserStream::signalFailedOpen;
    using FB::BrowserStream::signalOpened;

    bool readRanges(const RangeList& ranges) override {
        readRequests.push_back(ranges);
        return true;
    }
    bool write(const char*, std::size_t length, std::size_t& written) override {
        written = length;
        return true;
    }
    bool close() override {
        ++closes;
        return true;
    }

    std::vector<RangeList> readRequests;
    int closes = 0;
};

// Keeps what each event said, read while the event is delivered.
class Listener : public FB::PluginEventSink {
public:
    std::vector<std::string> heard;
    std::function<void(FB::PluginEvent*)> onEvent;

    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource*) override {
        if (auto* e = event->get<FB::StreamCreatedEvent>())
            heard.push_back("created " + e->stream->getUrl());
        else if (event->get<FB::StreamOpenedEvent>())
            heard.push_back("opened");
        else if (auto* e = event->get<FB::StreamDataArrivedEvent>()) {
            heard.push_back("data");
            chunks.push_back({e->length, e->dataPosition, e->progress});
        } else if (auto* e = event->get<FB::StreamCompletedEvent>())
            heard.push_back(e->success ? "completed" : "failed");
        else if (event->get<FB::StreamFailedOpenEvent>())
            heard.push_back("failed open");
        else if (auto* e = event->get<FB::StreamDestroyedEvent>())
            heard.push_back("destroyed " + e->stream->getUrl());
        if (onEvent)
            onEvent(event);
        return false;
    }

    struct Chunk {
        std::uint32_t length;
        std::uint32_t offset;
        float progress;
    };
    std::vector<Chunk> chunks;
};

class StreamHost : public TestBrowserHost {
public:
    using TestBrowserHost::TestBrowserHost;
    FB::BrowserStreamPtr _createStream(const std::string& url, const FB::PluginEventSinkPtr& callback, bool cache,
                                       bool seekable, size_t bufferSize) const override {
        auto stream = std::make_shared<TestStream>(url, cache, seekable, bufferSize);
        if (callback) {
            stream->attachObserver(callback);
            FB::StreamCreatedEvent created(stream.get());
            stream->sendEvent(&created);
        }
        return stream;
    }
};

class BrowserStreams : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = queue_.run([this] { return std::make_shared<StreamHost>(queue_); });
        listener_ = std::make_shared<Listener>();
    }
    std::shared_ptr<TestStream> open(const std::string& url, bool seekable = false, size_t bufferSize = 1024) {
        auto stream = std::static_pointer_cast<TestStream>(host_->createStream(url, listener_, true, seekable, bufferSize));
        stream->signalOpened();
        return stream;
    }

    MainThreadQueue queue_;
    std::shared_ptr<StreamHost> host_;
    std::shared_ptr<Listener> listener_;
};

TEST_F(BrowserStreams, DataEventsCarryTheChunkTheOffsetAndTheProgress) {
    struct Case {
        std::uint32_t total;
        std::size_t bufferSize;
        std::size_t delivered;
        std::size_t offset;
        bool sent;
        std::uint32_t chunk;
        float progress;
    };
    const Case cases[] = {
        {1000, 1024, 250, 0, true, 250, 25.0f},
        {1000, 1024, 250, 750, true, 250, 100.0f},
        {0, 1024, 250, 500, true, 250, 0.0f},     // length unknown
        {4096, 1000, 4096, 0, true, 1000, 100.0f},  // more than the buffer holds
        {1000, 1024, 0, 0, false, 0, 0.0f},       // nothing delivered
    };
    for (const Case& c : cases) {
        auto stream = open("http://127.0.0.1/data", false, c.bufferSize);
        stream->setLength(c.total);
        listener_->chunks.clear();
        const char bytes[4096] = {};
        stream->signalDataArrived(bytes, c.delivered, c.offset);
        ASSERT_EQ(listener_->chunks.size(), c.sent ? 1u : 0u) << c.delivered << "@" << c.offset;
        if (c.sent) {
            EXPECT_EQ(listener_->chunks[0].length, c.chunk);
            EXPECT_EQ(listener_->chunks[0].offset, c.offset);
            EXPECT_FLOAT_EQ(listener_->chunks[0].progress, c.progress);
        }
    }
}

TEST_F(BrowserStreams, NoDataEventsBeforeTheStreamIsOpen) {
    auto stream = std::static_pointer_cast<TestStream>(host_->createStream("http://127.0.0.1/x", listener_));
    const char bytes[16] = {};
    stream->signalDataArrived(bytes, sizeof bytes, 0);
    stream->signalFailedOpen();
    EXPECT_EQ(listener_->heard, (std::vector<std::string>{"created http://127.0.0.1/x", "failed open"}));
    EXPECT_FALSE(stream->isOpen());
}

TEST_F(BrowserStreams, ACompletedStreamIsClosedOnceAndLeavesTheManager) {
    std::weak_ptr<TestStream> weak;
    {
        auto stream = open("http://127.0.0.1/done");
        weak = stream;
        EXPECT_TRUE(stream->isOpen());
        stream->signalCompleted(true);
        stream->signalCompleted(false);  // already completed: nothing more
        EXPECT_TRUE(stream->isCompleted());
        EXPECT_EQ(stream->closes, 1);
    }
    EXPECT_TRUE(weak.expired()) << "the manager still holds a completed stream";
    EXPECT_EQ(listener_->heard, (std::vector<std::string>{"created http://127.0.0.1/done", "opened", "completed",
                                                          "destroyed http://127.0.0.1/done"}));
}

TEST_F(BrowserStreams, AStreamOwnedOnlyByTheManagerSurvivesTheDeliveryOfItsCompletion) {
    auto stream = open("http://127.0.0.1/owned-by-manager");
    std::weak_ptr<TestStream> weak = stream;
    TestStream* raw = stream.get();
    stream.reset();  // the plug-in let go; only the manager keeps it
    auto after = std::make_shared<Listener>();
    raw->attachObserver(after);  // told after the manager has released the stream
    raw->signalCompleted(true);
    EXPECT_TRUE(weak.expired());
    ASSERT_GE(after->heard.size(), 2u);
    EXPECT_EQ(after->heard[0], "completed");
    EXPECT_EQ(after->heard[1], "destroyed http://127.0.0.1/owned-by-manager");
}

TEST_F(BrowserStreams, ASeekableStreamThatFinishedWellStaysOpenForMoreRanges) {
    auto stream = open("http://127.0.0.1/seek", true);
    stream->setSeekAvailable(true);
    EXPECT_TRUE(stream->isSeekable());
    stream->signalCompleted(true);
    EXPECT_FALSE(stream->isCompleted());
    EXPECT_EQ(stream->closes, 0);
    EXPECT_TRUE(stream->readRange(10, 20));
    ASSERT_EQ(stream->readRequests.size(), 1u);
    ASSERT_EQ(stream->readRequests[0].size(), 1u);
    EXPECT_EQ(stream->readRequests[0][0].start, 10u);
    EXPECT_EQ(stream->readRequests[0][0].end, 20u);
    stream->signalCompleted(false);  // a failure ends even a seekable stream
    EXPECT_TRUE(stream->isCompleted());
    EXPECT_EQ(stream->closes, 1);
}

TEST_F(BrowserStreams, AStreamStillOpenAtShutdownIsClosedWhenTheManagerGoes) {
    std::weak_ptr<TestStream> weak;
    std::shared_ptr<TestStream> kept;
    {
        auto stream = open("http://127.0.0.1/open");
        weak = stream;
        kept = open("http://127.0.0.1/kept");
    }
    ASSERT_FALSE(weak.expired()) << "the manager keeps an open stream alive";
    EXPECT_EQ(weak.lock()->closes, 0);
    auto stillOpen = weak.lock();
    host_->shutdown();
    EXPECT_EQ(stillOpen->closes, 1);
    EXPECT_EQ(kept->closes, 1);
    stillOpen.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(BrowserStreams, ThrowingObserversAreLoggedAndDoNotStopTheOthers) {
    auto thrower = std::make_shared<Listener>();
    thrower->onEvent = [](FB::PluginEvent* e) {
        if (e->get<FB::StreamEvent>())
            throw std::runtime_error("observer failed");
    };
    LogCapture log;
    std::weak_ptr<TestStream> weak;
    {
        // The throwing observer comes first, before the listener and the manager.
        auto stream = std::static_pointer_cast<TestStream>(host_->createStream("http://127.0.0.1/t", thrower));
        weak = stream;
        stream->attachObserver(listener_);
        stream->signalOpened();
        stream->signalCompleted(true);
    }
    EXPECT_TRUE(weak.expired()) << "the manager did not hear that the stream completed";
    EXPECT_EQ(listener_->heard, (std::vector<std::string>{"opened", "completed", "destroyed http://127.0.0.1/t"}));
    int warnings = 0;
    for (const auto& r : log.records())
        if (r.level == FB::Log::Level::Warn && r.category == "BrowserStream" &&
            r.message == "An observer of http://127.0.0.1/t failed: observer failed")
            ++warnings;
    EXPECT_EQ(warnings, 4);  // created, opened, completed, destroyed
}

TEST(BrowserStreamManager, IgnoresEventsThatAreNotCompletionsOfStreams) {
    auto manager = std::make_shared<FB::BrowserStreamManager>();
    auto stream = std::make_shared<TestStream>("u", false, false, 16);
    manager->retainStream(stream);
    FB::StreamCompletedEvent completed(stream.get(), true);
    FB::PluginWindowless notAStream;
    EXPECT_FALSE(manager->handleEvent(&completed, &notAStream));
    FB::StreamOpenedEvent opened(stream.get());
    EXPECT_FALSE(manager->handleEvent(&opened, stream.get()));
    EXPECT_EQ(manager->retainedCount(), 1u);
    EXPECT_FALSE(manager->handleEvent(&completed, stream.get()));
    EXPECT_EQ(manager->retainedCount(), 0u);
}

} // namespace
