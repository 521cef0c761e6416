// The built nporvanta.so as a browser sees it: loaded with dlopen, its exports found by
// name, and driven through the tables it fills, against the fake browser.

#include "FakeNpapiBrowser.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace orv { namespace test {
namespace {

class NpModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A failing token module must not start a real pinentry for its message box.
        setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
        handle = dlopen(ORV_NPORVANTA_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        initialize = reinterpret_cast<NP_InitializeFunc>(dlsym(handle, "NP_Initialize"));
        shutdown = reinterpret_cast<NP_ShutdownFunc>(dlsym(handle, "NP_Shutdown"));
        mimeDescription = reinterpret_cast<NP_GetMIMEDescriptionFunc>(dlsym(handle, "NP_GetMIMEDescription"));
        getValue = reinterpret_cast<NP_GetValueFunc>(dlsym(handle, "NP_GetValue"));
        ASSERT_TRUE(initialize && shutdown && mimeDescription && getValue);
        std::memset(&funcs, 0, sizeof(funcs));
        funcs.size = sizeof(funcs);
    }
    void TearDown() override {
        if (handle)
            dlclose(handle);
    }

    NPObject* scriptable(NPP npp) {
        NPObject* obj = nullptr;
        EXPECT_EQ(funcs.getvalue(npp, NPPVpluginScriptableNPObject, &obj), NPERR_NO_ERROR);
        return obj;
    }

    void* handle = nullptr;
    NP_InitializeFunc initialize = nullptr;
    NP_ShutdownFunc shutdown = nullptr;
    NP_GetMIMEDescriptionFunc mimeDescription = nullptr;
    NP_GetValueFunc getValue = nullptr;
    NPPluginFuncs funcs;
};

TEST_F(NpModuleTest, AnswersWithoutAnInstance) {
    EXPECT_STREQ(mimeDescription(), "application/x-orvanta::pelorima orvanta plugin;");
    const char* text = nullptr;
    ASSERT_EQ(getValue(nullptr, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "orvanta");
    ASSERT_EQ(getValue(nullptr, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "pelorima orvanta plugin");
    void* untouched = &funcs;
    EXPECT_EQ(getValue(nullptr, NPPVpluginScriptableNPObject, &untouched), NPERR_GENERIC_ERROR);
    EXPECT_EQ(untouched, &funcs);
    EXPECT_EQ(getValue(nullptr, NPPVpluginNameString, nullptr), NPERR_INVALID_PARAM);
}

TEST_F(NpModuleTest, NullTablesAreRefused) {
    FakeNpapiBrowser browser;
    EXPECT_EQ(initialize(nullptr, &funcs), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(initialize(browser.table(), nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(shutdown(), NPERR_NO_ERROR);
}

TEST_F(NpModuleTest, FillsTheInstanceEntriesAndLeavesTheRest) {
    FakeNpapiBrowser browser;
    funcs.size = 160;
    funcs.version = 27;
    ASSERT_EQ(initialize(browser.table(), &funcs), NPERR_NO_ERROR);
    EXPECT_EQ(funcs.size, 160);
    EXPECT_EQ(funcs.version, 27);
    for (const void* entry : {(const void*)funcs.newp, (const void*)funcs.destroy, (const void*)funcs.setwindow,
                              (const void*)funcs.newstream, (const void*)funcs.destroystream,
                              (const void*)funcs.asfile, (const void*)funcs.writeready, (const void*)funcs.write,
                              (const void*)funcs.print, (const void*)funcs.event, (const void*)funcs.urlnotify,
                              (const void*)funcs.getvalue, (const void*)funcs.setvalue})
        EXPECT_NE(entry, nullptr);
    EXPECT_EQ(funcs.javaClass, nullptr);
    EXPECT_EQ(funcs.gotfocus, nullptr);
    EXPECT_EQ(shutdown(), NPERR_NO_ERROR);
}

// Every entry with an NPP that is not an instance of this module: a null one, and one
// whose pdata is null (never made, or already destroyed).
TEST_F(NpModuleTest, EntriesWithoutAnInstanceAnswerClearly) {
    FakeNpapiBrowser browser;
    ASSERT_EQ(initialize(browser.table(), &funcs), NPERR_NO_ERROR);
    NPP_t empty{};
    for (NPP npp : {static_cast<NPP>(nullptr), &empty}) {
        SCOPED_TRACE(npp ? "null pdata" : "null NPP");
        NPWindow window{};
        NPStream stream{};
        uint16_t stype = 0;
        char buffer[4] = {};
        EXPECT_EQ(funcs.destroy(npp, nullptr), NPERR_INVALID_INSTANCE_ERROR);
        EXPECT_EQ(funcs.setwindow(npp, &window), NPERR_INVALID_INSTANCE_ERROR);
        EXPECT_EQ(funcs.newstream(npp, nullptr, &stream, 0, &stype), NPERR_INVALID_INSTANCE_ERROR);
        EXPECT_EQ(funcs.destroystream(npp, &stream, NPRES_DONE), NPERR_INVALID_INSTANCE_ERROR);
        // A byte count, not a status: any positive answer would say the bytes were taken.
        EXPECT_EQ(funcs.writeready(npp, &stream), -1);
        EXPECT_EQ(funcs.write(npp, &stream, 0, 4, buffer), -1);
        EXPECT_EQ(funcs.event(npp, nullptr), 0);
        EXPECT_EQ(funcs.setvalue(npp, NPNVWindowNPObject, nullptr), NPERR_INVALID_INSTANCE_ERROR);
        funcs.asfile(npp, &stream, "/tmp/x");
        funcs.print(npp, nullptr);
        funcs.urlnotify(npp, "http://127.0.0.1/", NPRES_DONE, nullptr);
        NPObject* obj = nullptr;
        EXPECT_EQ(funcs.getvalue(npp, NPPVpluginScriptableNPObject, &obj), NPERR_GENERIC_ERROR);
        EXPECT_EQ(obj, nullptr);
        const char* name = nullptr;
        EXPECT_EQ(funcs.getvalue(npp, NPPVpluginNameString, &name), NPERR_NO_ERROR);
        EXPECT_STREQ(name, "orvanta");
    }
    EXPECT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), nullptr, NP_EMBED, 0, nullptr, nullptr,
                         nullptr),
              NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(browser.allocatedBlocks(), 0u);
    EXPECT_EQ(shutdown(), NPERR_NO_ERROR);
}

struct Attributes {
    std::vector<std::string> names;
    std::vector<const char*> values;
    std::vector<char*> argn;
    std::vector<char*> argv;
    Attributes(std::vector<std::string> n, std::vector<const char*> v) : names(std::move(n)), values(std::move(v)) {
        for (size_t i = 0; i < names.size(); ++i) {
            argn.push_back(&names[i][0]);
            argv.push_back(const_cast<char*>(values[i]));
        }
    }
};

TEST_F(NpModuleTest, AnInstanceLivesThroughTheTable) {
    FakeNpapiBrowser browser;
    ASSERT_EQ(initialize(browser.table(), &funcs), NPERR_NO_ERROR);
    NPP npp = browser.instance(0);

    std::vector<const NPClass*> loadedWith;
    PageObject* loaded = browser.newFunction(npp, [&](const std::vector<NPVariant>& args, NPVariant* result) {
        for (const NPVariant& a : args)
            if (NPVARIANT_IS_OBJECT(a))
                loadedWith.push_back(NPVARIANT_TO_OBJECT(a)->_class);
        VOID_TO_NPVARIANT(*result);
        return true;
    });
    NPVariant fn;
    OBJECT_TO_NPVARIANT(loaded, fn);
    browser.setProperty(browser.window(0), "loaded", fn);
    browser.table()->releaseobject(loaded);

    Attributes attrs({"type", "onload", "id", "novalue"}, {"application/x-orvanta", "loaded", "p1", nullptr});
    ASSERT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), npp, NP_EMBED,
                         static_cast<int16_t>(attrs.argn.size()), attrs.argn.data(), attrs.argv.data(), nullptr),
              NPERR_NO_ERROR);
    ASSERT_NE(npp->pdata, nullptr);
    // Linux browsers give a windowed plug-in no window: it asks for windowless at once.
    EXPECT_EQ(browser.callCount("setvalue:" + std::to_string(NPPVpluginWindowBool)), 1);
    EXPECT_EQ(browser.callCount("setvalue:" + std::to_string(NPPVpluginTransparentBool)), 1);

    NPObject* root = scriptable(npp);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(scriptable(npp), root);
    EXPECT_EQ(browser.refCount(root), 3u);

    // "onload" runs once, later, with the root object (a wrapper of its own, of the
    // plug-in's class).
    EXPECT_TRUE(loadedWith.empty());
    browser.runPendingCalls();
    browser.runPendingCalls();
    ASSERT_EQ(loadedWith.size(), 1u);
    EXPECT_EQ(loadedWith[0], root->_class);

    NPVariant result;
    VOID_TO_NPVARIANT(result);
    ASSERT_TRUE(root->_class->invoke(root, browser.stringId("get_version"), nullptr, 0, &result));
    ASSERT_TRUE(NPVARIANT_IS_STRING(result));
    EXPECT_GT(NPVARIANT_TO_STRING(result).UTF8Length, 0u);
    browser.releaseValue(result);

    NPWindow window{};
    window.x = 10;
    window.y = 20;
    window.width = 300;
    window.height = 100;
    window.type = NPWindowTypeDrawable;
    EXPECT_EQ(funcs.setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_EQ(funcs.setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_EQ(funcs.event(npp, nullptr), 0);
    EXPECT_EQ(funcs.setwindow(npp, nullptr), NPERR_NO_ERROR);

    // Streams the plug-in never asked for.
    NPStream stream{};
    uint16_t stype = 0;
    EXPECT_EQ(funcs.newstream(npp, nullptr, &stream, 0, &stype), NPERR_NO_ERROR);
    EXPECT_EQ(funcs.writeready(npp, &stream), -1);
    EXPECT_EQ(funcs.destroystream(npp, &stream, NPRES_DONE), NPERR_NO_ERROR);

    const char* name = nullptr;
    EXPECT_EQ(funcs.getvalue(npp, NPPVpluginNameString, &name), NPERR_NO_ERROR);
    EXPECT_STREQ(name, "orvanta");
    void* untouched = &funcs;
    EXPECT_EQ(funcs.getvalue(npp, NPPVpluginNeedsXEmbed, &untouched), NPERR_GENERIC_ERROR);
    EXPECT_EQ(untouched, &funcs);

    browser.table()->releaseobject(root);
    browser.table()->releaseobject(root);
    EXPECT_EQ(funcs.destroy(npp, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(npp->pdata, nullptr);
    EXPECT_EQ(funcs.destroy(npp, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    browser.destroyInstance(npp);
    EXPECT_EQ(shutdown(), NPERR_NO_ERROR);
}

TEST_F(NpModuleTest, TwoInstancesAndAFreshModuleAfterShutdown) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        FakeNpapiBrowser browser;
        ASSERT_EQ(initialize(browser.table(), &funcs), NPERR_NO_ERROR);
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(funcs.newp(const_cast<char*>("application/x-orvanta"), browser.instance(i), NP_EMBED, 0,
                                 nullptr, nullptr, nullptr),
                      NPERR_NO_ERROR);
        EXPECT_NE(browser.instance(0)->pdata, browser.instance(1)->pdata);
        browser.runPendingCalls();
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(funcs.destroy(browser.instance(i), nullptr), NPERR_NO_ERROR);
            browser.destroyInstance(browser.instance(i));
        }
        EXPECT_EQ(shutdown(), NPERR_NO_ERROR);
    }
}

} // namespace
}} // namespace orv::test
