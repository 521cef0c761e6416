// The event model of JSAPI: handlers, default "on" handlers, event interfaces, proxies.
// Delivery goes through the handlers' browser host to its main thread, as in a browser.

#include "FakeJSObject.h"
#include "JSAPIAuto.h"
#include "TestBrowserHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

using FB::variant;
using FB::VariantList;
using FB::VariantMap;
using orv::test::FakeJSObject;
using orv::test::FakeJSObjectPtr;
using orv::test::MainThreadQueue;
using orv::test::TestBrowserHost;

namespace {

int idA, idB, idC;  // identities of distinct script functions

class JSAPIEvents : public ::testing::Test {
protected:
    void SetUp() override { host = TestBrowserHost::create(queue); }
    void TearDown() override {
        host->shutdown();
        ASSERT_TRUE(queue.waitIdle());
        // Event objects in the recorded calls name the firing object, which holds the
        // handlers: break the cycle.
        for (const auto& h : handlers)
            h->clearCalls();
    }

    // A handler that notes its name in the shared journal when called.
    FakeJSObjectPtr handler(const std::string& name, void* eventId) {
        auto object = FakeJSObject::create(host, eventId);
        auto note = [this, name](const VariantList&) {
            std::lock_guard<std::mutex> lock(journalMutex);
            journal.push_back(name);
            return variant();
        };
        object->setMethod("", note);
        object->setMethod("onchange", note);
        handlers.push_back(object);
        return object;
    }

    std::vector<std::string> delivered() {
        EXPECT_TRUE(queue.waitIdle());
        std::lock_guard<std::mutex> lock(journalMutex);
        return journal;
    }

    MainThreadQueue queue;
    std::shared_ptr<TestBrowserHost> host;
    std::shared_ptr<FB::JSAPIAuto> api = std::make_shared<FB::JSAPIAuto>();
    std::mutex journalMutex;
    std::vector<std::string> journal;
    std::vector<FakeJSObjectPtr> handlers;
};

} // namespace

TEST_F(JSAPIEvents, NewObjectKnowsOnload) {
    EXPECT_TRUE(api->HasEvent("onload"));
    EXPECT_TRUE(api->HasEvent(std::wstring(L"onload")));
    EXPECT_EQ(api->getDefaultEventMethod("onload"), nullptr);
    EXPECT_FALSE(api->HasEvent("onchange"));
    api->registerEvent("onchange");
    EXPECT_TRUE(api->HasEvent("onchange"));
}

TEST_F(JSAPIEvents, HandlersRunOnTheMainThreadWithTheArguments) {
    auto h = handler("h", &idA);
    api->registerEventMethod("onchange", h);
    api->FireEvent("onchange", {variant(1), variant("two")});
    ASSERT_EQ(delivered(), std::vector<std::string>{"h"});
    auto calls = h->callsTo("");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, queue.id());
    ASSERT_EQ(calls[0].args.size(), 2u);
    EXPECT_EQ(calls[0].args[0].cast<int>(), 1);
    EXPECT_EQ(calls[0].args[1].cast<std::string>(), "two");
}

TEST_F(JSAPIEvents, SameScriptFunctionRegisteredTwiceIsKeptOnce) {
    auto first = handler("first", &idA);
    auto again = handler("again", &idA);  // another wrapper of the same function
    api->registerEventMethod("onchange", first);
    api->registerEventMethod("onchange", again);
    api->FireEvent("onchange", {});
    EXPECT_EQ(delivered(), std::vector<std::string>{"first"});

    api->unregisterEventMethod("onchange", again);
    api->FireEvent("onchange", {});
    EXPECT_EQ(delivered(), std::vector<std::string>{"first"});
}

TEST_F(JSAPIEvents, NullHandlersAreInvalidArguments) {
    try {
        api->registerEventMethod("onchange", nullptr);
        FAIL() << "no exception";
    } catch (const FB::invalid_arguments& e) {
        EXPECT_STREQ(e.what(), "Invalid Arguments");
    }
    EXPECT_THROW(api->unregisterEventMethod("onchange", nullptr), FB::invalid_arguments);
}

TEST_F(JSAPIEvents, DeliveryOrderHandlersThenDefaultThenInterfaces) {
    api->registerEventMethod("onchange", handler("h1", &idA));
    api->registerEventMethod("onchange", handler("h2", &idB));
    api->registerEventMethod("onother", handler("elsewhere", &idC));
    api->setDefaultEventMethod("onchange", handler("default", &idC));
    auto iface = handler("iface", nullptr);
    api->registerEventInterface(iface);

    api->FireEvent("onchange", {variant(5)});
    EXPECT_EQ(delivered(), (std::vector<std::string>{"h1", "h2", "default", "iface"}));
    // The interface receives a call of the method named like the event.
    auto calls = iface->callsTo("onchange");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0].cast<int>(), 5);

    api->unregisterEventInterface(iface);
    api->FireEvent("onchange", {});
    EXPECT_EQ(delivered().size(), 7u);
}

TEST_F(JSAPIEvents, DefaultHandlerWithoutIdentityIsNotCalled) {
    api->setDefaultEventMethod("onchange", handler("default", nullptr));
    EXPECT_NE(api->getDefaultEventMethod("onchange"), nullptr);
    api->FireEvent("onchange", {});
    EXPECT_TRUE(delivered().empty());
}

TEST_F(JSAPIEvents, SettingNullDefaultHandlerForgetsTheEvent) {
    auto h = handler("default", &idA);
    api->setDefaultEventMethod(std::wstring(L"onchange"), h);
    EXPECT_EQ(api->getDefaultEventMethod(std::wstring(L"onchange")), h);
    api->setDefaultEventMethod("onchange", nullptr);
    EXPECT_FALSE(api->HasEvent("onchange"));
    EXPECT_EQ(api->getDefaultEventMethod("onchange"), nullptr);
}

TEST_F(JSAPIEvents, FireJSEventBuildsTheEventObject) {
    auto h = handler("h", &idA);
    api->registerEventMethod("onready", h);
    VariantMap members{{"detail", variant(42)}, {"type", variant("spoofed")}};
    api->FireJSEvent("onready", members, {variant("arg")});
    ASSERT_EQ(delivered().size(), 1u);

    auto calls = h->callsTo("");
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].args.size(), 1u);
    const VariantMap& event = calls[0].args[0].cast<VariantMap>();
    EXPECT_EQ(event.at("type").cast<std::string>(), "onready");
    EXPECT_EQ(event.at("namespaceURI").cast<std::string>(), "onready");
    EXPECT_EQ(event.at("target").cast<FB::JSAPIPtr>(), api);
    EXPECT_EQ(event.at("currentTarget").cast<FB::JSAPIPtr>(), api);
    EXPECT_EQ(event.at("eventPhase").cast<int>(), 2);
    EXPECT_FALSE(event.at("bubbles").cast<bool>());
    EXPECT_FALSE(event.at("cancelable").cast<bool>());
    EXPECT_EQ(event.at("detail").cast<int>(), 42);
    const VariantList& args = event.at("arguments").cast<VariantList>();
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0].cast<std::string>(), "arg");

    api->FireJSEvent("onready", VariantList{});
    api->FireJSEvent("onready", VariantMap{});
    ASSERT_EQ(delivered().size(), 3u);
    ASSERT_EQ(h->callsTo("").size(), 3u);
    EXPECT_TRUE(h->callsTo("")[2].args[0].cast<VariantMap>().at("arguments").cast<VariantList>().empty());
}

TEST_F(JSAPIEvents, ProxiesRefireWithThemselvesInPlaceOfTheObject) {
    auto proxy = std::make_shared<FB::JSAPIAuto>();
    auto own = handler("own", &idA);
    auto proxied = handler("proxied", &idB);
    api->registerEventMethod("onchange", own);
    proxy->registerEventMethod("onchange", proxied);
    api->registerProxy(proxy);

    FB::JSAPIPtr self = api;
    api->FireEvent("onchange", {variant(self), variant(VariantList{variant(self)}),
                                variant(VariantMap{{"who", variant(self)}}), variant(7)});
    EXPECT_EQ(delivered(), (std::vector<std::string>{"proxied", "own"}));

    const VariantList seen = proxied->callsTo("")[0].args;
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].cast<FB::JSAPIPtr>(), proxy);
    EXPECT_EQ(seen[1].cast<VariantList>()[0].cast<FB::JSAPIPtr>(), proxy);
    EXPECT_EQ(seen[2].cast<VariantMap>().at("who").cast<FB::JSAPIPtr>(), proxy);
    EXPECT_EQ(seen[3].cast<int>(), 7);
    EXPECT_EQ(own->callsTo("")[0].args[0].cast<FB::JSAPIPtr>(), api);

    // FireJSEvent goes through the proxy too, the event object naming the proxy.
    api->FireJSEvent("onchange", VariantMap{});
    ASSERT_EQ(delivered().size(), 4u);
    EXPECT_EQ(proxied->callsTo("")[1].args[0].cast<VariantMap>().at("target").cast<FB::JSAPIPtr>(), proxy);
}

TEST_F(JSAPIEvents, ExpiredAndUnregisteredProxiesAreSkipped) {
    auto gone = std::make_shared<FB::JSAPIAuto>();
    gone->registerEventMethod("onchange", handler("gone", &idB));
    api->registerProxy(gone);
    gone.reset();

    auto proxy = std::make_shared<FB::JSAPIAuto>();
    proxy->registerEventMethod("onchange", handler("proxied", &idC));
    api->registerProxy(proxy);
    api->FireEvent("onchange", {});
    EXPECT_EQ(delivered(), std::vector<std::string>{"proxied"});

    api->unregisterProxy(proxy);
    api->FireEvent("onchange", {});
    EXPECT_EQ(delivered(), std::vector<std::string>{"proxied"});
}

TEST_F(JSAPIEvents, InvalidatedObjectFiresNothing) {
    api->registerEventMethod("onchange", handler("h", &idA));
    api->setDefaultEventMethod("onchange", handler("default", &idB));
    api->invalidate();
    api->FireEvent("onchange", {});
    api->FireJSEvent("onchange", VariantMap{});
    EXPECT_TRUE(delivered().empty());
    EXPECT_EQ(host->scheduledCount(), 0);
}

TEST_F(JSAPIEvents, HandlerWhoseHostIsGoneDoesNotStopTheOthers) {
    auto orphan = FakeJSObject::create(nullptr, &idA);
    api->registerEventMethod("onchange", orphan);
    api->registerEventMethod("onchange", handler("h", &idB));
    EXPECT_NO_THROW(api->FireEvent("onchange", {}));
    EXPECT_EQ(delivered(), std::vector<std::string>{"h"});
}
