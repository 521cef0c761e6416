// The instance's browser host: the page's objects, script evaluation, the browser function
// wrappers with and without their entries, main-thread calls, and what shutdown stops.

#include "DOMDocument.h"
#include "DOMElement.h"
#include "DOMWindow.h"
#include "NpapiFixture.h"
#include "NpapiHostFactory.h"
#include "NpapiStream.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using FB::variant;
using FB::VariantList;
using FB::Npapi::NpapiBrowserHost;
using FB::Npapi::NPObjectAPI;
using orv::test::BrowserValue;
using orv::test::NpapiFixture;
using orv::test::PageObject;
using orv::test::text;

namespace {

using BrowserHost = NpapiFixture;

NPObject* npObjectOf(const FB::JSObjectPtr& o) {
    return std::dynamic_pointer_cast<NPObjectAPI>(o)->getNPObject();
}

std::string runtimeErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    } catch (const FB::script_error& e) {
        return e.what();
    }
    return "<no error>";
}

// A host of the fixture's browser for instance 1, set up as the given browser table says.
std::shared_ptr<NpapiBrowserHost> hostFor(FB::Npapi::NpapiPluginModule& module, NPP npp,
                                          const NPNetscapeFuncs* table) {
    auto host = std::make_shared<NpapiBrowserHost>(&module, npp);
    host->setBrowserFuncs(table);
    return host;
}

} // namespace

TEST_F(BrowserHost, FindsThePagesWindowDocumentAndElement) {
    EXPECT_EQ(npObjectOf(host->getDOMWindow()->getJSObject()), browser.window());
    EXPECT_EQ(npObjectOf(host->getDOMDocument()->getJSObject()), browser.document());
    EXPECT_EQ(npObjectOf(host->getDOMElement()->getJSObject()), browser.element());
    EXPECT_EQ(host->getContextID(), browser.instance());
    EXPECT_EQ(browser.refCount(browser.window()), 2u);  // the browser's and the host's
}

TEST_F(BrowserHost, MissingPageObjectsAreClearErrors) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* window;
        const char* document;
        const char* element;
    };
    const char* none = "<no error>";
    const Case cases[] = {
        {"no element", [&] { browser.withElement(false); }, none, none, "Cannot find HTML window"},
        {"no window", [&] { browser.withWindow(false); }, "Cannot find HTML window", "Cannot find HTML document",
         none},
        {"browser refuses", [&] { browser.failing("getvalue"); }, "Cannot find HTML window",
         "Cannot find HTML document", "Cannot find HTML window"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        auto other = hostFor(module, browser.instance(1), browser.table());
        EXPECT_EQ(runtimeErrorOf([&] { other->getDOMWindow(); }), c.window);
        EXPECT_EQ(runtimeErrorOf([&] { other->getDOMDocument(); }), c.document);
        EXPECT_EQ(runtimeErrorOf([&] { other->getDOMElement(); }), c.element);
        other->shutdown();
        browser.withElement(true);
        browser.withWindow(true);
        browser.failing("getvalue", false);
    }
}

TEST_F(BrowserHost, EvaluatesScriptInThePagesWindow) {
    std::string seen;
    browser.evaluate = [&](const std::string& script, NPVariant* result) {
        seen = script;
        *result = browser.stringVariant("a result nobody asked for");
        return true;
    };
    host->evaluateJavaScript(std::string("f(\"\0\")", 6));
    EXPECT_EQ(seen, std::string("f(\"\0\")", 6));
    host->evaluateJavaScript(std::wstring(L"g()"));
    EXPECT_EQ(seen, "g()");

    browser.evaluate = [](const std::string&, NPVariant*) { return false; };
    EXPECT_EQ(runtimeErrorOf([&] { host->evaluateJavaScript("throw 1"); }), "Error executing JavaScript code");

    browser.withWindow(false);
    auto other = hostFor(module, browser.instance(1), browser.table());
    EXPECT_EQ(runtimeErrorOf([&] { other->evaluateJavaScript("1"); }), "Cannot find HTML window");
    other->shutdown();
}

TEST_F(BrowserHost, WrappersPassTheInstanceToTheBrowser) {
    struct Case {
        const char* call;
        std::function<void()> run;
    };
    NPRect rect = {0, 0, 100, 300};
    NPObject* window = browser.window();
    const Case cases[] = {
        {"geturl:u", [&] { EXPECT_EQ(host->GetURL("u", nullptr), NPERR_NO_ERROR); }},
        {"geturlnotify:u", [&] { EXPECT_EQ(host->GetURLNotify("u", nullptr, nullptr), NPERR_NO_ERROR); }},
        {"posturl:u", [&] { EXPECT_EQ(host->PostURL("u", nullptr, 0, "", false), NPERR_NO_ERROR); }},
        {"posturlnotify:u", [&] { EXPECT_EQ(host->PostURLNotify("u", nullptr, 0, "", false, nullptr), NPERR_NO_ERROR); }},
        {"requestread", [&] { EXPECT_EQ(host->RequestRead(nullptr, nullptr), NPERR_NO_ERROR); }},
        {"newstream", [&] { EXPECT_EQ(host->NewStream(nullptr, nullptr, nullptr), NPERR_NO_ERROR); }},
        {"write:12", [&] { EXPECT_EQ(host->Write(nullptr, 12, nullptr), 12); }},
        {"destroystream:0", [&] { EXPECT_EQ(host->DestroyStream(nullptr, NPRES_DONE), NPERR_NO_ERROR); }},
        {"status:s", [&] { host->Status("s"); }},
        {"uagent", [&] { EXPECT_STREQ(host->UserAgent(), "FakeNpapiBrowser/26"); }},
        {"setvalue:3", [&] { EXPECT_EQ(host->SetValue(NPPVpluginWindowBool, nullptr), NPERR_NO_ERROR); }},
        {"invalidaterect:300x100", [&] { host->InvalidateRect(rect); }},
        {"invalidateregion", [&] { host->InvalidateRegion(nullptr); }},
        {"forceredraw", [&] { host->ForceRedraw(); }},
        {"pushpopupsenabledstate", [&] { host->PushPopupsEnabledState(true); }},
        {"poppopupsenabledstate", [&] { host->PopPopupsEnabledState(); }},
        {"hasmethod:Array", [&] { EXPECT_TRUE(host->HasMethod(window, browser.stringId("Array"))); }},
        {"hasproperty:document", [&] { EXPECT_TRUE(host->HasProperty(window, browser.stringId("document"))); }},
        {"removeproperty:none", [&] { EXPECT_FALSE(host->RemoveProperty(window, browser.stringId("none"))); }},
        {"construct", [&] { EXPECT_FALSE(host->Construct(window, nullptr, 0, nullptr)); }},
        {"scheduletimer", [&] { EXPECT_EQ(host->ScheduleTimer(10, false, nullptr), 7u); }},
        {"unscheduletimer:7", [&] { host->UnscheduleTimer(7); }},
        {"reloadplugins", [&] { host->ReloadPlugins(false); }},
        {"setexception:m", [&] { host->SetException(window, "m"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        browser.clearCalls();
        c.run();
        EXPECT_EQ(browser.calls(), std::vector<std::string>{c.call});
    }
    // Identifiers and memory, through the module's table.
    const char* names[] = {"a", "b"};
    NPIdentifier ids[2] = {};
    host->GetStringIdentifiers(names, 2, ids);
    EXPECT_EQ(ids[1], host->GetStringIdentifier("b"));
    EXPECT_TRUE(host->IdentifierIsString(ids[0]));
    EXPECT_EQ(host->UTF8FromIdentifier(ids[0]), "a");
    EXPECT_EQ(host->IntFromIdentifier(host->GetIntIdentifier(-4)), -4);
    EXPECT_EQ(host->UTF8FromIdentifier(host->GetIntIdentifier(-4)), "");
    void* block = host->MemAlloc(8);
    ASSERT_NE(block, nullptr);
    host->MemFree(block);
}

TEST_F(BrowserHost, MissingEntriesAnswerTheirNeutralValue) {
    NPNetscapeFuncs headerOnly;
    std::memset(&headerOnly, 0, sizeof(headerOnly));
    headerOnly.size = 4;
    headerOnly.version = 26;
    FB::Npapi::NpapiPluginModule emptyModule;
    emptyModule.setNetscapeFuncs(&headerOnly);
    browser.clearCalls();
    auto bare = hostFor(emptyModule, browser.instance(1), &headerOnly);
    NPObject* window = browser.window(1);
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;

    EXPECT_EQ(bare->GetURL("u", nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->GetURLNotify("u", nullptr, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->PostURL("u", nullptr, 0, "", false), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->PostURLNotify("u", nullptr, 0, "", false, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->RequestRead(nullptr, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->NewStream(nullptr, nullptr, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->DestroyStream(nullptr, NPRES_DONE), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->Write(nullptr, 12, nullptr), 0);
    EXPECT_EQ(bare->UserAgent(), nullptr);
    EXPECT_EQ(bare->GetValue(NPNVWindowNPObject, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->SetValue(NPPVpluginWindowBool, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(bare->CreateObject(nullptr), nullptr);
    EXPECT_FALSE(bare->Invoke(window, nullptr, nullptr, 0, &result));
    EXPECT_FALSE(bare->InvokeDefault(window, nullptr, 0, &result));
    EXPECT_FALSE(bare->Evaluate(window, nullptr, &result));
    EXPECT_FALSE(bare->GetProperty(window, nullptr, &result));
    EXPECT_FALSE(bare->SetProperty(window, nullptr, &result));
    EXPECT_FALSE(bare->RemoveProperty(window, nullptr));
    EXPECT_FALSE(bare->HasProperty(window, nullptr));
    EXPECT_FALSE(bare->HasMethod(window, nullptr));
    EXPECT_FALSE(bare->Enumerate(window, &ids, &count));
    EXPECT_FALSE(bare->Construct(window, nullptr, 0, &result));
    EXPECT_EQ(bare->ScheduleTimer(1, false, nullptr), 0u);
    EXPECT_EQ(bare->MemAlloc(8), nullptr);
    EXPECT_EQ(bare->MemFlush(8), 0u);
    EXPECT_EQ(bare->GetStringIdentifier("a"), nullptr);
    EXPECT_EQ(bare->GetIntIdentifier(1), nullptr);
    EXPECT_TRUE(bare->IdentifierIsString(nullptr));
    EXPECT_EQ(bare->UTF8FromIdentifier(nullptr), "");
    EXPECT_EQ(bare->IntFromIdentifier(nullptr), 1);
    EXPECT_EQ(bare->RetainObject(window), window);
    bare->Status("s");
    bare->InvalidateRect(NPRect{});
    bare->InvalidateRegion(nullptr);
    bare->ForceRedraw();
    bare->PushPopupsEnabledState(true);
    bare->PopPopupsEnabledState();
    bare->UnscheduleTimer(1);
    bare->SetException(window, "lost");
    bare->MemFree(nullptr);
    bare->ReloadPlugins(false);
    bare->ReleaseObject(window);
    bare->ReleaseVariantValue(&result);
    NPIdentifier out[1] = {};
    const char* names[] = {"a"};
    bare->GetStringIdentifiers(names, 1, out);
    EXPECT_EQ(out[0], nullptr);
    EXPECT_FALSE(bare->_scheduleAsyncCall([](void*) {}, nullptr));
    EXPECT_TRUE(browser.calls().empty());
    EXPECT_EQ(runtimeErrorOf([&] { bare->getDOMWindow(); }), "Cannot find HTML window");
    bare->shutdown();
}

TEST_F(BrowserHost, CallsFromWorkersRunOnTheMainThreadThroughTheBrowser) {
    std::thread::id ranOn;
    int answer = 0;
    onWorker([&] {
        answer = host->CallOnMainThread([&] {
            ranOn = std::this_thread::get_id();
            return 42;
        });
    });
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(browser.callCount("pluginthreadasynccall"), 1);
}

TEST_F(BrowserHost, NothingThrownOnTheMainThreadReachesTheBrowser) {
    static bool ran;
    ran = false;
    ASSERT_TRUE(host->ScheduleAsyncCall(
        [](void*) {
            ran = true;
            throw 42;
        },
        nullptr));
    ASSERT_TRUE(host->ScheduleAsyncCall([](void*) { throw std::runtime_error("late failure"); }, nullptr));
    EXPECT_EQ(browser.runPendingCalls(), 2u);
    EXPECT_TRUE(ran);
}

TEST_F(BrowserHost, BrowserWithoutThreadHandOverRefusesAtOnce) {
    // Version 26 claimed, but the table ends before NPN_PluginThreadAsyncCall.
    NPNetscapeFuncs shortTable = *browser.table();
    shortTable.size = static_cast<uint16_t>(offsetof(NPNetscapeFuncs, pluginthreadasynccall));
    auto other = hostFor(module, browser.instance(1), &shortTable);
    std::string error;
    onWorker([&] { error = runtimeErrorOf([&] { other->CallOnMainThread([] { return 1; }); }); });
    EXPECT_EQ(error, "Could not marshal to main thread");
    EXPECT_EQ(browser.callCount("pluginthreadasynccall"), 0);
    other->shutdown();
}

TEST_F(BrowserHost, HtmlLogReachesThePagesConsole) {
    PageObject* console = browser.newObject(browser.instance(), "console");
    std::vector<std::string> logged;
    console->methods["log"] = [&](const std::vector<NPVariant>& args, NPVariant*) {
        logged.push_back(text(args.at(0)));
        return true;
    };
    NPVariant value;
    OBJECT_TO_NPVARIANT(console, value);
    browser.setProperty(browser.window(), "console", value);
    host->htmlLog("token inserted");
    EXPECT_TRUE(logged.empty());  // later, on the main thread
    EXPECT_EQ(browser.runPendingCalls(), 1u);
    EXPECT_EQ(logged, std::vector<std::string>{"token inserted"});
    NPIdentifier consoleId = browser.stringId("console");
    browser.window()->_class->removeProperty(browser.window(), consoleId);
    browser.table()->releaseobject(console);
}

TEST_F(BrowserHost, AfterShutdownTheInstanceIsNoLongerNamedToTheBrowser) {
    PageObject* page = browser.newObject(browser.instance());
    host->deferredRelease(host->RetainObject(page));  // on the main thread: released at once
    EXPECT_EQ(browser.refCount(page), 1u);
    host->RetainObject(page);
    std::thread([&] { host->deferredRelease(page); }).join();
    EXPECT_EQ(browser.refCount(page), 2u);  // queued
    host->shutdown();
    EXPECT_EQ(browser.refCount(page), 1u);  // given back while the instance still existed

    browser.table()->retainobject(page);
    std::thread([&] { host->deferredRelease(page); }).join();
    browser.clearCalls();
    host->DoDeferredRelease();
    EXPECT_EQ(browser.refCount(page), 2u);  // dropped, not released
    EXPECT_EQ(host->RetainObject(page), nullptr);
    EXPECT_EQ(browser.refCount(page), 2u);
    EXPECT_FALSE(host->ScheduleAsyncCall([](void*) {}, nullptr));
    EXPECT_FALSE(host->_scheduleAsyncCall([](void*) {}, nullptr));
    EXPECT_EQ(host->GetURL("u", nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(host->CreateObject(const_cast<NPClass*>(&FB::Npapi::NPJavascriptObject::NPJavascriptObjectClass)),
              nullptr);
    EXPECT_EQ(runtimeErrorOf([&] { host->getDOMWindow(); }), "Cannot find HTML window");
    EXPECT_EQ(runtimeErrorOf([&] { host->evaluateJavaScript("1"); }), "Cannot find HTML window");
    EXPECT_TRUE(browser.calls().empty());
    browser.table()->releaseobject(page);
    browser.table()->releaseobject(page);
}

TEST_F(BrowserHost, HostWithoutAnInstanceNeverNamesOne) {
    auto orphan = hostFor(module, nullptr, browser.table());
    browser.clearCalls();
    EXPECT_EQ(orphan->GetURL("u", nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(orphan->CreateObject(const_cast<NPClass*>(&FB::Npapi::NPJavascriptObject::NPJavascriptObjectClass)),
              nullptr);
    EXPECT_FALSE(orphan->_scheduleAsyncCall([](void*) {}, nullptr));
    EXPECT_EQ(runtimeErrorOf([&] { orphan->getDOMWindow(); }), "Cannot find HTML window");
    EXPECT_TRUE(browser.calls().empty());
    // Object references need no instance.
    EXPECT_EQ(orphan->RetainObject(browser.window()), browser.window());
    orphan->ReleaseObject(browser.window());
    orphan->shutdown();
}

TEST_F(BrowserHost, StreamsAreAskedForWithThemselvesAsNotifyData) {
    FB::BrowserStreamPtr stream = host->createStream("http://127.0.0.1/", nullptr, false, false, 16);
    ASSERT_TRUE(stream);
    ASSERT_EQ(browser.urlRequests().size(), 1u);
    EXPECT_EQ(browser.urlRequests()[0].npp, browser.instance());
    EXPECT_EQ(browser.urlRequests()[0].url, "http://127.0.0.1/");
    EXPECT_EQ(browser.urlRequests()[0].notifyData, stream.get());
    EXPECT_EQ(host->findStream(stream.get()), stream);
    int other = 0;
    EXPECT_EQ(host->findStream(&other), nullptr);
    EXPECT_EQ(host->findStream(nullptr), nullptr);

    // The buffer size is what NPP_WriteReady will answer: a byte count above 0.
    EXPECT_THROW(host->createStream("http://127.0.0.1/", nullptr, false, false, 0), std::invalid_argument);
    FB::BrowserStreamPtr huge = host->createStream("http://127.0.0.1/", nullptr, false, false,
                                                    std::numeric_limits<uint32_t>::max());
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->getInternalBufferSize(), 0x7FFFFFFFu);
    EXPECT_EQ(browser.urlRequests().size(), 2u);

    std::weak_ptr<FB::BrowserStream> weak = stream;
    stream.reset();
    EXPECT_FALSE(weak.expired()) << "kept while the browser may call for it";
    host->shutdown();
    EXPECT_TRUE(weak.expired()) << "a host that shuts down keeps no stream";
    EXPECT_EQ(host->createStream("http://127.0.0.1/", nullptr), nullptr);
    EXPECT_EQ(browser.urlRequests().size(), 2u);
}

TEST_F(BrowserHost, FactoryGivesTheHostForTheBrowser) {
    auto current = FB::Npapi::createNpapiBrowserHost(&module, browser.instance(1), false);
    const NpapiBrowserHost& made = *current;
    EXPECT_EQ(typeid(made), typeid(NpapiBrowserHost));
    EXPECT_EQ(current->getContextID(), browser.instance(1));
}
