// The plug-in core as an adapter drives it, with the scripted test host and a page window
// made of fake script objects: params and their "on" handlers, the windowless param, the
// window order, setReady's single "onload" call, and teardown with or without a host.

#include "DOMWindow.h"
#include "FakeJSObject.h"
#include "JSAPIAuto.h"
#include "LogCapture.h"
#include "PluginCore.h"
#include "PluginWindowless.h"
#include "TestBrowserHost.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using orv::test::FakeJSObject;
using orv::test::FakeJSObjectPtr;
using orv::test::LogCapture;
using orv::test::MainThreadQueue;
using orv::test::TestBrowserHost;
using Journal = std::vector<std::string>;

class TestCore : public FB::PluginCore {
public:
    Journal journal;
    std::map<const FB::PluginEventSource*, std::string> names;
    int apiCreated = 0;
    int readyCalls = 0;

    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) override {
        const std::string name = names.count(source) ? names[source] : "?";
        if (event->get<FB::AttachedEvent>())
            journal.push_back("attached " + name);
        else if (event->get<FB::DetachedEvent>())
            journal.push_back("detached " + name);
        return false;
    }
    FB::JSAPIPtr createJSAPI() override {
        ++apiCreated;
        return std::make_shared<FB::JSAPIAuto>();
    }
    void onPluginReady() override { ++readyCalls; }
};

class PluginCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = TestBrowserHost::create(queue_);
        pageWindow_ = FakeJSObject::create(host_);
        pageLoaded_ = FakeJSObject::create(host_);
        pageWindow_->SetProperty("pageLoaded", FB::variant(FB::JSObjectPtr(pageLoaded_)));
        pageWindow_->SetProperty("notAFunction", FB::variant(42));
        host_->setDOMWindow(std::make_shared<FB::DOM::Window>(pageWindow_));
        core_ = std::make_shared<TestCore>();
        core_->setHost(host_);
    }
    void TearDown() override {
        core_.reset();
        pageWindow_->clearCalls();
        pageLoaded_->clearCalls();  // recorded arguments hold the root object
    }

    const FB::variant& param(const std::string& name) { return core_->getParams().at(name); }

    MainThreadQueue queue_;
    std::shared_ptr<TestBrowserHost> host_;
    FakeJSObjectPtr pageWindow_;
    FakeJSObjectPtr pageLoaded_;
    std::shared_ptr<TestCore> core_;
};

TEST_F(PluginCoreTest, OnParamsNamingAPageFunctionBecomeThatFunctionOthersKeepTheirValue) {
    LogCapture log;
    core_->setParams({{"onload", FB::variant("pageLoaded")},
                      {"on", FB::variant("pageLoaded")},
                      {"onready", FB::variant("missingFunction")},
                      {"onnumber", FB::variant("notAFunction")},
                      {"o", FB::variant("pageLoaded")},
                      {"noon", FB::variant("pageLoaded")},
                      {"width", FB::variant(300)},
                      {"list", FB::variant(FB::VariantList{FB::variant(1)})}});

    for (const char* key : {"onload", "on"}) {
        ASSERT_TRUE(param(key).is_of_type<FB::JSObjectPtr>()) << key;
        EXPECT_EQ(param(key).cast<FB::JSObjectPtr>(), pageLoaded_) << key;
        EXPECT_EQ(log.count(FB::Log::Level::Trace, "PluginCore", std::string("Found <param> event handler: ") + key),
                  1)
            << key;
    }
    for (const char* key : {"onready", "onnumber", "o", "noon"})
        EXPECT_TRUE(param(key).is_of_type<std::string>()) << key;
    EXPECT_EQ(param("onready").cast<std::string>(), "missingFunction");
    EXPECT_EQ(param("width").cast<int>(), 300);
    EXPECT_TRUE(param("list").is_of_type<FB::VariantList>());

    int warnings = 0;
    for (const auto& r : log.records())
        if (r.level == FB::Log::Level::Warn && r.message.rfind("Exception processing <param> ", 0) == 0)
            ++warnings;
    EXPECT_EQ(warnings, 3);  // onready, onnumber, list
}

TEST_F(PluginCoreTest, ParamsAccumulateAcrossCalls) {
    core_->setParams({{"width", FB::variant(300)}, {"height", FB::variant(10)}});
    core_->setParams({{"width", FB::variant(400)}});
    EXPECT_EQ(param("width").cast<int>(), 400);
    EXPECT_EQ(param("height").cast<int>(), 10);
}

TEST_F(PluginCoreTest, OnParamsWithoutAUsablePageWindowKeepTheirValue) {
    enum class Page { NoHost, NoWindow, WindowFails };
    for (Page page : {Page::NoHost, Page::NoWindow, Page::WindowFails}) {
        auto core = std::make_shared<TestCore>();
        auto host = TestBrowserHost::create(queue_);
        if (page != Page::NoHost)
            core->setHost(host);
        host->setDOMWindowFailure(page == Page::WindowFails);
        LogCapture log;
        core->setParams({{"onload", FB::variant("pageLoaded")}});
        EXPECT_EQ(core->getParams().at("onload").convert_cast<std::string>(), "pageLoaded");
        EXPECT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records().at(0).level, FB::Log::Level::Warn);
    }
}

TEST_F(PluginCoreTest, WindowlessParam) {
    struct Case {
        FB::variant value;
        bool windowless;
    };
    const Case cases[] = {
        {FB::variant("yes"), true},   {FB::variant("YES"), true},  {FB::variant("True"), true},
        {FB::variant("t"), true},     {FB::variant("1"), true},    {FB::variant(L"Yes"), true},
        {FB::variant(true), true},    {FB::variant(2), true},      {FB::variant("no"), false},
        {FB::variant("0"), false},    {FB::variant(""), false},    {FB::variant("maybe"), false},
        {FB::variant(false), false},  {FB::variant(0), false},
        {FB::variant(FB::VariantMap{}), false},  // cannot be a boolean at all
    };
    int index = 0;
    for (const Case& c : cases) {
        auto core = std::make_shared<TestCore>();
        core->setParams({{"windowless", c.value}});
        EXPECT_EQ(core->isWindowless(), c.windowless) << "case " << index;
        ++index;
    }
    auto without = std::make_shared<TestCore>();
    EXPECT_FALSE(without->isWindowless());
}

TEST_F(PluginCoreTest, SetReadyCallsTheOnloadFunctionOnceWithTheRootObject) {
    core_->setParams({{"onload", FB::variant("pageLoaded")}});
    core_->setReady();
    EXPECT_EQ(core_->readyCalls, 1);
    ASSERT_TRUE(queue_.waitIdle());
    const auto calls = pageLoaded_->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "");
    EXPECT_EQ(calls[0].thread, queue_.id());
    ASSERT_EQ(calls[0].args.size(), 1u);
    EXPECT_EQ(calls[0].args[0].convert_cast<FB::JSAPIPtr>(), core_->getRootJSAPI());
    EXPECT_EQ(core_->apiCreated, 1);
}

TEST_F(PluginCoreTest, SetReadyWithoutAUsableOnloadOnlyMakesTheRootAndCallsOnPluginReady) {
    struct Case {
        const char* name;
        FB::VariantMap params;
        bool refuse;
    };
    const Case cases[] = {
        {"no onload", {}, false},
        {"onload names nothing", {{"onload", FB::variant("missingFunction")}}, false},
        {"browser refuses the call", {{"onload", FB::variant("pageLoaded")}}, true},
    };
    for (const Case& c : cases) {
        auto core = std::make_shared<TestCore>();
        core->setHost(host_);
        core->setParams(c.params);
        host_->setRefuseScheduling(c.refuse);
        core->setReady();
        ASSERT_TRUE(queue_.waitIdle());
        EXPECT_EQ(core->readyCalls, 1) << c.name;
        EXPECT_EQ(core->apiCreated, 1) << c.name;
        EXPECT_TRUE(pageLoaded_->calls().empty()) << c.name;
        host_->setRefuseScheduling(false);
        core->setHost(nullptr);  // keep the shared host running for the next case
    }
}

TEST_F(PluginCoreTest, ANewWindowDetachesTheOldOneFirst) {
    FB::PluginWindowless a, b;
    core_->names = {{&a, "A"}, {&b, "B"}};
    core_->SetWindow(&a);
    core_->SetWindow(&b);
    EXPECT_EQ(core_->getWindow(), &b);
    core_->ClearWindow();
    core_->ClearWindow();
    EXPECT_EQ(core_->getWindow(), nullptr);
    EXPECT_EQ(core_->journal, (Journal{"attached A", "detached A", "attached B", "detached B"}));
}

TEST_F(PluginCoreTest, TheSameWindowTwiceAttachesOnceAndANullWindowOnlyClears) {
    FB::PluginWindowless a;
    core_->names = {{&a, "A"}};
    LogCapture log;
    core_->SetWindow(&a);
    core_->SetWindow(&a);
    core_->SetWindow(nullptr);
    EXPECT_EQ(core_->getWindow(), nullptr);
    EXPECT_EQ(core_->journal, (Journal{"attached A", "detached A"}));
    EXPECT_EQ(log.count(FB::Log::Level::Trace, "PluginCore", "Window Set"), 3);
    EXPECT_EQ(log.count(FB::Log::Level::Trace, "PluginCore", "Window Cleared"), 1);
}

TEST_F(PluginCoreTest, DestructionShutsTheHostDownAndCountsTheCore) {
    const std::int32_t before = FB::PluginCore::getActivePluginCount();
    auto extra = std::make_shared<TestCore>();
    EXPECT_EQ(FB::PluginCore::getActivePluginCount(), before + 1);
    extra->setHost(host_);
    extra.reset();
    EXPECT_TRUE(host_->isShutDown());
    EXPECT_EQ(FB::PluginCore::getActivePluginCount(), before);

    auto hostless = std::make_shared<TestCore>();  // an adapter that failed early
    hostless.reset();
    EXPECT_EQ(FB::PluginCore::getActivePluginCount(), before);
}

TEST(PluginCorePlatform, SetPlatformKeepsAndLogsBothNames) {
    LogCapture log;
    FB::PluginCore::setPlatform("Windows", "NPAPI");
    EXPECT_EQ(FB::PluginCore::getPlatformOS(), "Windows");
    EXPECT_EQ(FB::PluginCore::getPlatformBrowser(), "NPAPI");
    EXPECT_EQ(log.count(FB::Log::Level::Info, "FB::PluginCore", "os: Windows; browser: NPAPI"), 1);
}

} // namespace
