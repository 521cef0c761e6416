// Page objects used from plug-in code: every operation through the browser, failures as
// script errors, the plug-in's own objects answered directly, calls from other threads
// and references given back on the main thread only.

#include "NpapiFixture.h"

#include <string>
#include <thread>
#include <vector>

using FB::variant;
using FB::VariantList;
using FB::Npapi::NPObjectAPI;
using orv::test::BrowserValue;
using orv::test::NpapiFixture;
using orv::test::PageObject;
using orv::test::SampleAPI;
using orv::test::text;

namespace {

class PageObjects : public NpapiFixture {
protected:
    void SetUp() override {
        NpapiFixture::SetUp();
        page = browser.newObject(browser.instance(), "page");
        BrowserValue name;
        name.value = browser.stringVariant("x");
        browser.setProperty(page, "name", name.value);
        // join: the texts and numbers of its arguments, one after the other.
        page->methods["join"] = [this](const std::vector<NPVariant>& args, NPVariant* result) {
            joinThread = std::this_thread::get_id();
            std::string joined;
            for (const NPVariant& a : args)
                joined += a.type == NPVariantType_String ? text(a) : std::to_string(a.value.intValue);
            *result = browser.stringVariant(joined);
            return true;
        };
        page->methods["fails"] = [](const std::vector<NPVariant>&, NPVariant*) { return false; };
        wrapper = wrap(page);
    }
    void TearDown() override {
        wrapper.reset();
        if (page)
            browser.table()->releaseobject(page);
        NpapiFixture::TearDown();
    }

    std::shared_ptr<NPObjectAPI> wrap(NPObject* o) {
        NPVariant v;
        OBJECT_TO_NPVARIANT(o, v);
        return std::dynamic_pointer_cast<NPObjectAPI>(host->getVariant(&v).cast<FB::JSObjectPtr>());
    }

    PageObject* page = nullptr;
    std::shared_ptr<NPObjectAPI> wrapper;
    std::thread::id joinThread;
};

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const FB::script_error& e) {
        return e.what();
    }
    return "<no script_error>";
}

} // namespace

TEST_F(PageObjects, OperationsGoThroughTheBrowser) {
    EXPECT_EQ(wrapper->GetProperty("name").cast<std::string>(), "x");
    EXPECT_TRUE(wrapper->GetProperty("missing").empty());
    EXPECT_TRUE(wrapper->HasProperty("name"));
    EXPECT_FALSE(wrapper->HasProperty("missing"));
    EXPECT_TRUE(wrapper->HasMethod("join"));
    EXPECT_FALSE(wrapper->HasMethod("name"));
    EXPECT_FALSE(wrapper->HasEvent("onload"));

    wrapper->SetProperty("count", variant(5L));
    EXPECT_EQ(page->properties["count"].value.intValue, 5);
    wrapper->SetProperty("child", variant(FB::JSAPIPtr(api)));
    EXPECT_TRUE(FB::Npapi::NPJavascriptObject::isNPJavascriptObject(page->properties["child"].value.objectValue));

    EXPECT_EQ(wrapper->Invoke("join", VariantList{variant(std::string("a")), variant(1L)}).cast<std::string>(),
              "a1");
    EXPECT_EQ(joinThread, std::this_thread::get_id());

    std::vector<std::string> names;
    wrapper->getMemberNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"child", "count", "name"}));
    EXPECT_EQ(wrapper->getMemberCount(), 3u);

    EXPECT_EQ(wrapper->getEventId(), page);
    EXPECT_EQ(wrapper->getEventContext(), browser.instance());
    EXPECT_EQ(wrapper->getJSAPI(), nullptr);
}

TEST_F(PageObjects, FunctionsAndArraysOfThePage) {
    PageObject* function = browser.newFunction(browser.instance(), [](const std::vector<NPVariant>& args,
                                                                     NPVariant* result) {
        INT32_TO_NPVARIANT(static_cast<int32_t>(args.size()), *result);
        return true;
    });
    auto f = wrap(function);
    EXPECT_EQ(f->Invoke("", VariantList{variant(1L), variant(2L)}).cast<int32_t>(), 2);
    EXPECT_EQ(browser.callCount("invokedefault"), 1);

    PageObject* array = browser.newArray(browser.instance());
    auto a = wrap(array);
    a->Invoke("push", VariantList{variant(std::string("first"))});
    EXPECT_TRUE(a->HasProperty(0));
    EXPECT_EQ(a->GetProperty(0).cast<std::string>(), "first");
    a->SetProperty(1, variant(2L));
    EXPECT_EQ(array->properties["1"].value.intValue, 2);
    f.reset();
    a.reset();
    browser.table()->releaseobject(function);
    browser.table()->releaseobject(array);
}

TEST_F(PageObjects, BrowserFailuresBecomeScriptErrorsNamingTheMember) {
    EXPECT_EQ(messageOf([&] { wrapper->Invoke("fails", VariantList{variant(std::string("arg"))}); }), "fails");
    EXPECT_EQ(messageOf([&] { wrapper->Invoke("absent", VariantList()); }), "absent");

    // A wrapper of an object that no longer answers: every access fails in the browser.
    auto gone = std::make_shared<SampleAPI>();
    NPObject* dead = FB::Npapi::NPJavascriptObject::NewObject(host, FB::JSAPIWeakPtr(gone), false)->getNPObject();
    gone.reset();
    auto deadWrapper = wrap(dead);
    EXPECT_EQ(deadWrapper->getJSAPI(), nullptr);
    EXPECT_EQ(messageOf([&] { deadWrapper->GetProperty("prop"); }), "prop");
    EXPECT_EQ(messageOf([&] { deadWrapper->SetProperty("prop", variant(std::string("lost"))); }), "prop");
    EXPECT_EQ(messageOf([&] { deadWrapper->GetProperty(4); }), "4");
    EXPECT_EQ(messageOf([&] { deadWrapper->Invoke("echo", VariantList{variant(std::string("lost"))}); }), "echo");
    deadWrapper.reset();
    browser.table()->releaseobject(dead);
}

TEST_F(PageObjects, PluginsOwnObjectIsAnsweredDirectly) {
    NPObject* own = pageObject();
    auto ownWrapper = wrap(own);
    EXPECT_EQ(ownWrapper->getJSAPI(), api);
    browser.clearCalls();
    api->answer = variant(std::string("direct"));
    EXPECT_EQ(ownWrapper->Invoke("answer", VariantList()).cast<std::string>(), "direct");
    ownWrapper->SetProperty("prop", variant(3L));
    EXPECT_EQ(ownWrapper->GetProperty("prop").cast<long>(), 3L);
    EXPECT_TRUE(ownWrapper->HasMethod("echo"));
    EXPECT_TRUE(ownWrapper->HasEvent("onping"));
    EXPECT_TRUE(browser.calls().empty());

    // Once the object is gone the wrapper answers nothing (a property reads as false).
    api.reset();
    EXPECT_EQ(ownWrapper->GetProperty("prop").cast<bool>(), false);
    EXPECT_EQ(ownWrapper->GetProperty(0).cast<bool>(), false);
    EXPECT_TRUE(ownWrapper->Invoke("answer", VariantList()).empty());
    EXPECT_FALSE(ownWrapper->HasMethod("echo"));
    EXPECT_EQ(ownWrapper->getMemberCount(), 0u);
    ownWrapper.reset();
    browser.table()->releaseobject(own);
}

TEST_F(PageObjects, OtherThreadsAreServedOnTheMainThread) {
    std::string joined;
    std::string failure;
    std::vector<std::string> names;
    bool hasJoin = false;
    onWorker([&] {
        joined = wrapper->Invoke("join", VariantList{variant(std::string("w")), variant(2L)}).cast<std::string>();
        failure = messageOf([&] { wrapper->Invoke("fails", VariantList()); });
        wrapper->SetProperty("fromWorker", variant(std::string("yes")));
        hasJoin = wrapper->HasMethod("join");
        wrapper->getMemberNames(names);
    });
    EXPECT_EQ(joined, "w2");
    EXPECT_EQ(joinThread, std::this_thread::get_id());
    EXPECT_EQ(failure, "fails");
    EXPECT_EQ(text(page->properties["fromWorker"]), "yes");
    EXPECT_TRUE(hasJoin);
    EXPECT_EQ(names, (std::vector<std::string>{"fromWorker", "name"}));
    EXPECT_GE(browser.callCount("pluginthreadasynccall"), 5);
    EXPECT_TRUE(browser.offMainThreadCalls().empty());
}

TEST_F(PageObjects, IndexedMembersAskedOnAWorkerAreServedOnTheMainThread) {
    PageObject* array = browser.newArray(browser.instance());
    auto a = wrap(array);
    a->Invoke("push", VariantList{variant(std::string("first"))});
    bool hasFirst = false;
    bool hasSecond = true;
    std::string first;
    onWorker([&] {
        hasFirst = a->HasProperty(0);
        hasSecond = a->HasProperty(1);
        first = a->GetProperty(0).cast<std::string>();
        a->SetProperty(1, variant(2L));
    });
    EXPECT_TRUE(hasFirst);
    EXPECT_FALSE(hasSecond);
    EXPECT_EQ(first, "first");
    EXPECT_EQ(array->properties["1"].value.intValue, 2);
    EXPECT_EQ(browser.offMainThreadCalls(), std::vector<std::string>{});
    a.reset();
    browser.table()->releaseobject(array);
}

TEST_F(PageObjects, AnyFailureOnTheMainThreadReachesTheWaitingWorker) {
    NPObject* own = pageObject();
    auto ownWrapper = wrap(own);
    std::vector<std::string> failures;
    onWorker([&] {
        for (const char* method : {"throwsInt", "runtimeError", "scriptError"})
            failures.push_back(messageOf([&] { ownWrapper->Invoke(method, VariantList()); }));
    });
    EXPECT_EQ(failures, (std::vector<std::string>{"Unknown error in the plugin", "runtime boom", "boom"}));
    ownWrapper.reset();
    browser.table()->releaseobject(own);
}

TEST_F(PageObjects, ReferenceDroppedOnAWorkerIsGivenBackOnTheMainThread) {
    EXPECT_EQ(browser.refCount(page), 2u);
    std::thread worker([w = std::move(wrapper)]() mutable { w.reset(); });
    worker.join();
    EXPECT_EQ(browser.refCount(page), 2u);  // not on the worker
    host->DoDeferredRelease();
    EXPECT_EQ(browser.refCount(page), 1u);
}

TEST_F(PageObjects, AfterShutdownNothingReachesTheBrowser) {
    host->shutdown();
    browser.clearCalls();
    EXPECT_TRUE(wrapper->GetProperty("name").empty());
    EXPECT_TRUE(wrapper->Invoke("join", VariantList{variant(std::string("late"))}).empty());
    wrapper->SetProperty("late", variant(1L));
    EXPECT_FALSE(wrapper->HasMethod("join"));
    EXPECT_FALSE(wrapper->HasProperty("name"));
    EXPECT_FALSE(wrapper->HasProperty(0));
    std::vector<std::string> names;
    wrapper->getMemberNames(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(wrapper->getMemberCount(), 0u);
    EXPECT_TRUE(browser.calls().empty());
    // The wrapper's reference can no longer be given back: the browser drops it with the
    // instance's objects.
    wrapper.reset();
    EXPECT_EQ(browser.refCount(page), 2u);
    browser.table()->releaseobject(page);
    browser.table()->releaseobject(page);
    page = nullptr;
}

// Firefox-family browsers free every object of an instance that ends, whatever its count.
// A page that handed instance A's object to instance B and then removed A leaves B with a
// wrapper of freed memory: B neither hands it out again nor gives back its reference,
// whether the wrapper goes after A or was let go of on a worker before A ended.
TEST(CrossInstanceObjects, ObjectOfAnEndedInstanceIsNotTouchedAgain) {
    for (bool droppedOnWorkerFirst : {false, true}) {
        SCOPED_TRACE(droppedOnWorkerFirst ? "dropped on a worker before A ended" : "dropped after A ended");
        orv::test::FakeNpapiBrowser browser;
        FB::Npapi::NpapiPluginModule module;
        module.setNetscapeFuncs(browser.table());
        auto hostA = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance(0));
        hostA->setBrowserFuncs(browser.table());
        auto hostB = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance(1));
        hostB->setBrowserFuncs(browser.table());
        auto apiA = std::make_shared<SampleAPI>();
        // The page's reference, which the browser ends with A.
        NPObject* objA = FB::Npapi::NPJavascriptObject::NewObject(hostA, apiA, false)->getNPObject();
        NPVariant passed;
        OBJECT_TO_NPVARIANT(objA, passed);
        variant inB = hostB->getVariant(&passed);
        auto wrapper = std::dynamic_pointer_cast<NPObjectAPI>(inB.convert_cast<FB::JSObjectPtr>());
        ASSERT_TRUE(wrapper);
        EXPECT_EQ(browser.refCount(objA), 2u);
        if (droppedOnWorkerFirst) {
            inB = variant();
            std::thread([w = std::move(wrapper)]() mutable { w.reset(); }).join();
        }

        hostA->shutdown();
        apiA.reset();
        browser.destroyInstance(browser.instance(0));
        ASSERT_FALSE(browser.isAlive(objA));

        if (!droppedOnWorkerFirst) {
            EXPECT_EQ(wrapper->getNPObject(), nullptr);
            EXPECT_EQ(wrapper->getJSAPI(), nullptr);
            BrowserValue back;
            hostB->getNPVariant(back.get(), inB);
            EXPECT_EQ(back.value.type, NPVariantType_Null);
            inB = variant();
            wrapper.reset();
        }
        hostB->DoDeferredRelease();
        hostB->shutdown();
    }
}
