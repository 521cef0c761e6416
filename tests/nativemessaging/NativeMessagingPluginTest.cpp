// The plug-in instance of one connection: the product's orvanta made through the factory,
// attached to the connection's window while the connection lasts and let go at shutdown;
// and the connection's browser host, whose main-thread calls wait for the loop.

#include "NativeMessagingBrowserHost.h"
#include "NativeMessagingPlugin.h"

#include "JSAPI.h"
#include "JSExceptions.h"
#include "ModuleNames.h"
#include "PlatformModule.h"
#include "PluginCore.h"
#include "RecordingErrorBox.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace FB::NativeMessaging;

// A token module beside the test executables (the stand-in, on Linux) stays loaded for the
// process, as the token tests keep it: it never frees its call record, which would show as
// a leak once the plug-in object had unloaded it.
void keepTokenModuleLoaded() {
    std::string executable;
    bool truncated = false;
    orv::ownModulePath("no such module", executable, truncated);
    const std::size_t folder = executable.find_last_of("/\\");
    if (folder != std::string::npos && !truncated)
        orv::loadModule(executable.substr(0, folder + 1) + orv::moduleFileName("olpkcs11xsg"));
}

TEST(NativeMessagingPlugin, MakesTheProductsObjectThroughTheFactoryAndLetsItGoAtShutdown) {
    keepTokenModuleLoaded();
    orv::test::RecordingErrorBox boxes;  // whatever the token module does here, no box waits
    const std::int32_t before = FB::PluginCore::getActivePluginCount();
    auto host = std::make_shared<NativeMessagingBrowserHost>();
    {
        NativeMessagingPlugin plugin(host, "application/x-orvanta");
        FB::PluginCorePtr core = plugin.getPluginMain();
        ASSERT_TRUE(core);
        EXPECT_EQ(FB::PluginCore::getActivePluginCount(), before + 1);
        EXPECT_NE(core->getWindow(), nullptr);  // attached for the life of the connection
        const FB::JSAPIPtr root = plugin.getRootJSAPI();
        ASSERT_TRUE(root);
        EXPECT_EQ(root->Invoke("get_version", {}).cast<std::string>(), "1.1");
        EXPECT_EQ(root->GetProperty("version").cast<std::string>(), "1.1");

        plugin.shutdown();
        EXPECT_EQ(core->getWindow(), nullptr);
        EXPECT_TRUE(host->isShutDown());
        EXPECT_FALSE(plugin.getPluginMain());
        EXPECT_EQ(orv::moduleLoadCount, 0);
        core.reset();
        EXPECT_EQ(FB::PluginCore::getActivePluginCount(), before);
        // A root object the dispatcher still holds no longer reaches the plug-in object.
        EXPECT_THROW(root->Invoke("olvIsTokenPresentAndOK", {}), FB::script_error);
        plugin.shutdown();  // again: nothing more happens
    }
    EXPECT_EQ(FB::PluginCore::getActivePluginCount(), before);
}

TEST(NativeMessagingBrowserHost, MainThreadCallsWaitForTheLoop) {
    auto host = std::make_shared<NativeMessagingBrowserHost>();
    std::vector<int> ran;
    struct Call {
        std::vector<int>* ran;
        int value;
    };
    Call first{&ran, 1};
    Call second{&ran, 2};
    auto record = [](void* data) {
        auto* call = static_cast<Call*>(data);
        call->ran->push_back(call->value);
    };
    ASSERT_TRUE(host->ScheduleAsyncCall(record, &first));
    ASSERT_TRUE(host->ScheduleAsyncCall(record, &second));
    EXPECT_TRUE(ran.empty());
    host->runPendingCalls();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    host->runPendingCalls();
    EXPECT_EQ(ran.size(), 2u);  // each once
    host->shutdown();
    EXPECT_FALSE(host->ScheduleAsyncCall(record, &first));
}

} // namespace
