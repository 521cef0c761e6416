#pragma once
// One plug-in instance in the fake browser: the module's copy of the browser table, the
// instance's host with its page objects, a scriptable object to show the page, and the
// checks every test ends with: no browser object or reference left behind.

#include "FakeNpapiBrowser.h"
#include "JSAPIAuto.h"
#include "JSObject.h"
#include "NPJavascriptObject.h"
#include "NPObjectAPI.h"
#include "NpapiBrowserHost.h"
#include "NpapiPluginModule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace orv { namespace test {

// A scriptable object with a member for each way a call can end.
class SampleAPI : public FB::JSAPIAuto {
public:
    SampleAPI() : FB::JSAPIAuto("<sample>") {
        registerMethod("echo", [](const FB::VariantList& args) { return args.empty() ? FB::variant() : args[0]; });
        registerMethod("count", [](const FB::VariantList& args) { return FB::variant(static_cast<long>(args.size())); });
        registerMethod("answer", [this](const FB::VariantList&) { return answer; });
        registerMethod("scriptError", [](const FB::VariantList&) -> FB::variant { throw FB::script_error("boom"); });
        registerMethod("runtimeError",
                       [](const FB::VariantList&) -> FB::variant { throw std::runtime_error("runtime boom"); });
        registerMethod("outOfMemory", [](const FB::VariantList&) -> FB::variant { throw std::bad_alloc(); });
        registerMethod("throwsInt", [](const FB::VariantList&) -> FB::variant { throw 42; });
        // Calls the page function it is given with the rest of the arguments.
        registerMethod("callBack", [](const FB::VariantList& args) {
            auto function = args.at(0).convert_cast<FB::JSObjectPtr>();
            if (!function)
                throw FB::invalid_arguments("callBack needs a function");  // null and void give none
            return function->Invoke("", FB::VariantList(args.begin() + 1, args.end()));
        });
        registerProperty("prop", FB::PropertyFunctors([this] { return prop; }, [this](const FB::variant& v) { prop = v; }));
        registerEvent("onping");
    }

    size_t handlerCount(const std::string& eventName) const { return m_eventMap.count(eventName); }
    void withoutMethodObjects() { m_allowMethodObjects = false; }
    void withoutDynamicAttributes() { m_allowDynamicAttributes = false; }

    FB::variant answer;
    FB::variant prop;
};

class NpapiFixture : public ::testing::Test {
protected:
    void SetUp() override {
        module.setNetscapeFuncs(browser.table());
        host = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance());
        host->setBrowserFuncs(browser.table());
        api = std::make_shared<SampleAPI>();
    }

    // Every object and reference the plug-in took is back with the browser: the six page
    // objects remain, each with only the page's own references.
    void TearDown() override {
        api.reset();
        host->shutdown();
        host.reset();
        EXPECT_EQ(browser.aliveObjects(&FB::Npapi::NPJavascriptObject::NPJavascriptObjectClass), 0u);
        EXPECT_EQ(browser.aliveObjects(), 6u);
        for (int which = 0; which < 2; ++which) {
            EXPECT_EQ(browser.refCount(browser.window(which)), 1u);
            EXPECT_EQ(browser.refCount(browser.document(which)), 2u);  // the window's property holds one
            EXPECT_EQ(browser.refCount(browser.element(which)), 1u);
        }
        EXPECT_EQ(browser.pendingCalls(), 0u);
    }

    // The page's view of the sample object, with the reference creation gave (the test's).
    NPObject* pageObject(const FB::JSAPIPtr& target) {
        return FB::Npapi::NPJavascriptObject::NewObject(host, target, false)->getNPObject();
    }
    NPObject* pageObject() { return pageObject(api); }

    NPIdentifier id(const std::string& name) { return browser.stringId(name); }

    // The messages NPN_SetException received, in order.
    std::vector<std::string> pageExceptions() const {
        std::vector<std::string> messages;
        for (const auto& e : browser.exceptions())
            messages.push_back(e.message);
        return messages;
    }

    // Runs body on a worker thread while this thread, the browser's main thread, runs
    // the calls handed to it, until the worker ends. A worker that hangs ends the program.
    void onWorker(const std::function<void()>& body) {
        std::atomic<bool> done{false};
        std::exception_ptr failure;
        std::thread worker([&] {
            try {
                body();
            } catch (...) {
                failure = std::current_exception();
            }
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done) {
            browser.runPendingCalls();
            if (std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "worker thread hangs; giving up\n");
                std::abort();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        worker.join();
        browser.runPendingCalls();
        if (failure)
            std::rethrow_exception(failure);
    }

    FakeNpapiBrowser browser;
    FB::Npapi::NpapiPluginModule module;
    FB::Npapi::NpapiBrowserHostPtr host;
    std::shared_ptr<SampleAPI> api;
};

// The string an NPVariant holds, zero bytes and all.
inline std::string text(const NPVariant& v) {
    return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
}

}} // namespace orv::test
