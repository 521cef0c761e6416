// NPP_New's failures with a product factory that fails on purpose: each failure becomes
// its status, and nothing of the instance stays behind (a browser never calls
// NPP_Destroy after a failed NPP_New).

#include "FactoryBase.h"
#include "FakeNpapiBrowser.h"
#include "JSAPIAuto.h"
#include "NpapiEntryPoints.h"
#include "NpapiPlugin.h"
#include "PluginCore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace {

enum class Failure { None, CreateError, OutOfMemory, Runtime, Unknown, ReadyFails };
Failure g_failure = Failure::None;
int g_alive = 0;

class FailingCore : public FB::PluginCore {
public:
    FailingCore() { ++g_alive; }
    ~FailingCore() override { --g_alive; }
    bool handleEvent(FB::PluginEvent*, FB::PluginEventSource*) override { return false; }
    FB::JSAPIPtr createJSAPI() override {
        if (g_failure == Failure::ReadyFails)
            throw std::runtime_error("no root object");
        return std::make_shared<FB::JSAPIAuto>("<root>");
    }
};

class FailingFactory : public FB::FactoryBase {
public:
    FailingFactory() : FB::FactoryBase("orvanta", "pelorima orvanta plugin") {}
    FB::PluginCorePtr createPlugin(const std::string&) override {
        switch (g_failure) {
        case Failure::CreateError:
            throw FB::Npapi::PluginCreateError("this page is not for us");
        case Failure::OutOfMemory:
            throw std::bad_alloc();
        case Failure::Runtime:
            throw std::runtime_error("broken");
        case Failure::Unknown:
            throw 42;
        default:
            return std::make_shared<FailingCore>();
        }
    }
};

} // namespace

FB::FactoryBasePtr FB::getFactoryInstance() {
    static FB::FactoryBasePtr factory = std::make_shared<FailingFactory>();
    return factory;
}

namespace orv { namespace test {
namespace {

TEST(NpapiEntryTest, FailedCreationIsItsStatusAndLeavesNothing) {
    const struct {
        Failure failure;
        NPError status;
    } cases[] = {
        {Failure::CreateError, NPERR_INCOMPATIBLE_VERSION_ERROR},
        {Failure::OutOfMemory, NPERR_OUT_OF_MEMORY_ERROR},
        {Failure::Runtime, NPERR_GENERIC_ERROR},
        {Failure::Unknown, NPERR_GENERIC_ERROR},
        {Failure::ReadyFails, NPERR_GENERIC_ERROR},
        {Failure::None, NPERR_NO_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.failure));
        g_failure = c.failure;
        FakeNpapiBrowser browser;
        NPPluginFuncs funcs;
        std::memset(&funcs, 0, sizeof(funcs));
        ASSERT_EQ(FB::Npapi::initializeModule(browser.table()), NPERR_NO_ERROR);
        ASSERT_EQ(FB::Npapi::getEntryPoints(&funcs), NPERR_NO_ERROR);
        NPP npp = browser.instance(0);
        int marker = 0;
        // A creation that fails must not touch pdata; the browser may keep its own there.
        npp->pdata = c.failure == Failure::None || c.failure == Failure::ReadyFails ? nullptr : &marker;
        EXPECT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), npp, NP_EMBED, 0, nullptr, nullptr, nullptr),
                  c.status);
        if (c.failure == Failure::None) {
            EXPECT_NE(npp->pdata, nullptr);
            EXPECT_EQ(g_alive, 1);
            // The page takes the root object and lets it go; the instance gives back its
            // own reference when it ends.
            NPObject* root = nullptr;
            ASSERT_EQ(funcs.getvalue(npp, NPPVpluginScriptableNPObject, &root), NPERR_NO_ERROR);
            ASSERT_NE(root, nullptr);
            browser.table()->releaseobject(root);
            EXPECT_EQ(funcs.destroy(npp, nullptr), NPERR_NO_ERROR);
            EXPECT_FALSE(browser.isAlive(root));
        } else if (c.failure == Failure::ReadyFails) {
            // The instance was made and then failed: it is undone.
            EXPECT_EQ(npp->pdata, nullptr);
        } else {
            EXPECT_EQ(npp->pdata, &marker);
            npp->pdata = nullptr;
        }
        EXPECT_EQ(g_alive, 0);
        // Checked before the browser ends the instance (which frees its objects whatever
        // their counts): the page's window, document and element have only the page's own
        // references.
        EXPECT_EQ(browser.refCount(browser.window(0)), 1u);
        EXPECT_EQ(browser.refCount(browser.document(0)), 2u);  // the window's property holds one
        EXPECT_EQ(browser.refCount(browser.element(0)), 1u);
        EXPECT_EQ(browser.aliveObjects(nullptr, npp), 3u);
        browser.destroyInstance(npp);
        EXPECT_EQ(FB::Npapi::shutdownModule(), NPERR_NO_ERROR);
    }
}

} // namespace
}} // namespace orv::test
