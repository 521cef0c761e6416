// BrowserHost's own duties: the page's console, retained objects, shutdown, the DOM
// factories, and JSObject's asynchronous calls through the host.

#include "BoundedThread.h"
#include "DOMDocument.h"
#include "DOMWindow.h"
#include "FakeJSObject.h"
#include "JSAPIAuto.h"
#include "LogCapture.h"
#include "TestBrowserHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

using FB::variant;
using orv::test::FakeJSObject;
using orv::test::LogCapture;
using orv::test::MainThreadQueue;
using orv::test::TestBrowserHost;

namespace {

class BrowserHostTest : public ::testing::Test {
protected:
    void SetUp() override { host = TestBrowserHost::create(queue); }
    void TearDown() override {
        host->shutdown();
        ASSERT_TRUE(queue.waitIdle());
    }

    // A page window whose "console" is the given object (none when null).
    std::shared_ptr<FakeJSObject> pageWithConsole(bool withConsole) {
        auto window = FakeJSObject::create(host);
        if (withConsole) {
            console = FakeJSObject::create(host);
            window->SetProperty("console", variant(FB::JSObjectPtr(console)));
        }
        host->setDOMWindow(host->_createWindow(window));
        return window;
    }

    MainThreadQueue queue;
    std::shared_ptr<TestBrowserHost> host;
    std::shared_ptr<FakeJSObject> console;
};

} // namespace

TEST_F(BrowserHostTest, HtmlLogWritesTheFrameworkLogAndThePageConsole) {
    LogCapture log;
    pageWithConsole(true);
    host->htmlLog("token inserted");
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(log.count(FB::Log::Level::Info, "BrowserHost", "Logging to HTML: token inserted"), 1);
    auto calls = console->callsTo("log");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, queue.id());
    ASSERT_EQ(calls[0].args.size(), 1u);
    EXPECT_EQ(calls[0].args[0].cast<std::string>(), "token inserted");
}

TEST_F(BrowserHostTest, HtmlLogWithoutConsoleTouchesNothing) {
    LogCapture log;
    auto window = pageWithConsole(false);
    host->htmlLog("quiet");
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_TRUE(window->calls().empty());
    EXPECT_EQ(log.count(FB::Log::Level::Trace, "BrowserHost", "Logging to browser console failed"), 0);
}

TEST_F(BrowserHostTest, ConsoleFailureIsOnlyTraced) {
    LogCapture log;
    host->setDOMWindowFailure(true);
    EXPECT_NO_THROW(host->htmlLog("lost"));
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(log.count(FB::Log::Level::Trace, "BrowserHost", "Logging to browser console failed"), 1);

    host->setDOMWindowFailure(false);
    pageWithConsole(true);
    console->setMethod("log", [](const FB::VariantList&) -> variant { throw FB::script_error("console gone"); });
    host->htmlLog("lost again");
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(log.count(FB::Log::Level::Trace, "BrowserHost", "Logging to browser console failed"), 2);
}

TEST_F(BrowserHostTest, AfterShutdownHtmlLogWritesOnlyTheFrameworkLog) {
    LogCapture log;
    pageWithConsole(true);
    host->shutdown();
    const int scheduled = host->scheduledCount();
    host->htmlLog("late");
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(log.count(FB::Log::Level::Info, "BrowserHost", "Logging to HTML: late"), 1);
    EXPECT_EQ(host->scheduledCount(), scheduled);
    EXPECT_TRUE(console->calls().empty());
}

TEST_F(BrowserHostTest, PendingConsoleLogRunsAtShutdown) {
    pageWithConsole(true);
    host->setHoldCalls(true);
    host->htmlLog("pending");
    EXPECT_TRUE(console->calls().empty());
    host->shutdown();
    EXPECT_EQ(console->callsTo("log").size(), 1u);
}

TEST_F(BrowserHostTest, RefusedConsoleLogIsDropped) {
    pageWithConsole(true);
    host->setRefuseScheduling(true);
    host->htmlLog("refused");
    host->shutdown();
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_TRUE(console->calls().empty());
}

// Each hold stands for one wrapper handed to the browser: a release gives back one, and an
// object retained twice lives until both are given back.
TEST_F(BrowserHostTest, ReleaseGivesBackOneHoldOfTheObject) {
    auto twice = std::make_shared<FB::JSAPIAuto>();
    auto other = std::make_shared<FB::JSAPIAuto>();
    std::weak_ptr<FB::JSAPIAuto> watchTwice = twice, watchOther = other;
    host->retainJSObject(twice);
    host->retainJSObject(other);
    host->retainJSObject(twice);
    twice.reset();
    other.reset();

    // Off the main thread the deferred releases wait for the main thread.
    host->releaseJSObject(watchTwice.lock());
    EXPECT_FALSE(watchTwice.expired()) << "the second hold keeps it";
    host->releaseJSObject(watchTwice.lock());
    EXPECT_TRUE(watchTwice.expired());
    EXPECT_FALSE(watchOther.expired());
    EXPECT_EQ(host->deferredReleaseCount(), 0);

    queue.run([&] { host->releaseJSObject(watchOther.lock()); });
    EXPECT_TRUE(watchOther.expired());
    EXPECT_EQ(host->deferredReleaseCount(), 1);
}

TEST_F(BrowserHostTest, ShutdownFreesRetainedObjects) {
    auto api = std::make_shared<FB::JSAPIAuto>();
    std::weak_ptr<FB::JSAPIAuto> watch = api;
    host->retainJSObject(api);
    api.reset();
    EXPECT_FALSE(watch.expired());
    host->shutdown();
    EXPECT_TRUE(watch.expired());
    EXPECT_GE(host->deferredReleaseCount(), 1);
}

TEST_F(BrowserHostTest, DomFactoriesWrapTheObject) {
    auto object = FakeJSObject::create(host);
    object->SetProperty("title", variant("Orvanta"));
    FB::DOM::WindowPtr window = host->_createWindow(object);
    EXPECT_EQ(window->getJSObject(), object);
    EXPECT_EQ(window->getProperty<std::string>("title"), "Orvanta");
    EXPECT_EQ(host->_createDocument(object)->getJSObject(), object);
    EXPECT_EQ(host->_createElement(object)->getJSObject(), object);
    EXPECT_EQ(host->_createNode(object)->getJSObject(), object);
    // A wrapper around no object refuses instead of touching it.
    EXPECT_THROW(host->_createWindow(nullptr)->getProperty<std::string>("title"), FB::script_error);
}

TEST_F(BrowserHostTest, JSObjectAsyncCallsRunOnTheMainThread) {
    auto object = FakeJSObject::create(host);
    orv::test::BoundedThread worker([&] {
        object->InvokeAsync("notify", {variant(3)});
        object->SetPropertyAsync("state", variant("ready"));
    });
    ASSERT_TRUE(worker.finishedWithin(std::chrono::seconds(10)));
    ASSERT_TRUE(queue.waitIdle());
    auto calls = object->callsTo("notify");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, queue.id());
    EXPECT_EQ(calls[0].args[0].cast<int>(), 3);
    EXPECT_EQ(object->GetProperty("state").cast<std::string>(), "ready");
    EXPECT_EQ(object->getHost(), host);
}

TEST_F(BrowserHostTest, JSObjectWithoutHostCannotCallAsynchronously) {
    auto object = FakeJSObject::create(nullptr);
    try {
        object->InvokeAsync("notify", {});
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot invoke asynchronously");
    }
    EXPECT_THROW(object->SetPropertyAsync("state", variant(1)), std::runtime_error);
    EXPECT_THROW(object->getHost(), std::bad_weak_ptr);
}
