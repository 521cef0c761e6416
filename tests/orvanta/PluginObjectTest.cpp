// The orvanta plug-in object end to end, as an adapter drives it: made by the process's
// factory, given a host and a window, and calling the token through the olpkcs11xsg
// stand-in (which records every call) into a fresh SoftHSM token.

#include "ApiCalls.h"
#include "BrowserPlugin.h"
#include "CompanionDouble.h"
#include "FactoryBase.h"
#include "LogCapture.h"
#include "LogFile.h"
#include "PluginEvents/MouseEvents.h"
#include "RecordingErrorBox.h"
#include "SoftHsmToken.h"
#include "Standin.h"
#include "DOMWindow.h"
#include "FakeJSObject.h"
#include "JSExceptions.h"
#include "TestBrowserHost.h"
#include "consent/PageConsent.h"
#include "plugin/orvanta.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using FB::variant;
using FB::VariantList;
using orv::test::CompanionDouble;
using orv::test::CompanionKind;
using orv::test::FakeJSObject;
using orv::test::isKeyText;
using orv::test::isStatus;
using orv::test::isTrue;
using orv::test::MainThreadQueue;
using orv::test::RecordingErrorBox;
using orv::test::SoftHsmToken;
using orv::test::Standin;
using orv::test::TestBrowserHost;

const char kHash[] = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
// A private key written in digits only: the page's alphabet leaves it as plain hex.
const char kKeyText[] = "1029384756102938475610293847561029384756102938475610293847561029";

// One plug-in instance as an adapter holds it: the plug-in object, its host and the
// window the adapter owns.
struct Instance {
    FB::PluginCorePtr plugin;
    std::unique_ptr<FB::PluginWindowlessX11> window;

    FB::variant call(const std::string& method, const VariantList& args = {}) {
        return plugin->getRootJSAPI()->Invoke(method, args);
    }
    void attach() {
        window.reset(FB::getFactoryInstance()->createPluginWindowless(FB::WindowContextWindowless(nullptr, 0)));
        plugin->SetWindow(window.get());
    }
    void detach() {
        plugin->ClearWindow();
        window.reset();
    }
};

// The page origins the person answered for: one allowed (the origin of every instance the
// tests make unless they say otherwise), one denied. Set before the process's gate is made.
const char kAllowedPage[] = "https://bank.example/pay?order=1";
const char kDeniedPage[] = "https://tracker.example/";
const std::string& originsFolder() {
    static const std::string folder = [] {
        char name[] = "/tmp/orvanta-plugin-origins.XXXXXX";
        const char* made = mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}
std::string personsOriginsFile() { return originsFolder() + "/allowed-origins"; }
void resetOrigins() {
    std::ofstream(personsOriginsFile(), std::ios::trunc) << "allow https://bank.example\ndeny https://tracker.example\n";
    std::filesystem::remove(personsOriginsFile() + ".dismissed");
}

class PluginObject : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        companion_ = std::make_unique<CompanionDouble>(CompanionDouble::install(CompanionKind::Configurable));
        setenv("ORVANTA_ALLOWED_ORIGINS", personsOriginsFile().c_str(), 1);
        setenv("ORVANTA_MACHINE_ALLOWED_ORIGINS", (originsFolder() + "/machine-allowed-origins").c_str(), 1);
        setenv("ORVANTA_PINENTRY", ORV_SCRIPTED_PINENTRY, 1);
    }
    static void TearDownTestSuite() {
        companion_.reset();
        std::filesystem::remove_all(originsFolder());
    }

    void SetUp() override {
        ASSERT_EQ(orv::moduleLoadCount, 0) << "an earlier test left the module loaded";
        companion_->reset();
        companion_->answer(SoftHsmToken::kUserPin);
        resetOrigins();
        unsetenv("PEER_CONFIRM");
    }
    void TearDown() override {
        instances_.clear();
        EXPECT_EQ(orv::moduleLoadCount, 0);
    }

    // An instance embedded in a document at `page` (no window object at all when null).
    Instance& make(const std::string& mimetype = "application/x-orvanta", const char* page = kAllowedPage) {
        auto instance = std::make_unique<Instance>();
        instance->plugin = FB::getFactoryInstance()->createPlugin(mimetype);
        auto host = TestBrowserHost::create(queue_);
        if (page) {
            auto location = FakeJSObject::create(host);
            location->SetProperty("href", variant(std::string(page)));
            auto window = FakeJSObject::create(host);
            window->SetProperty("location", variant(FB::JSObjectPtr(location)));
            host->setDOMWindow(FB::DOM::Window::create(window));
        }
        instance->plugin->setHost(host);
        instance->plugin->setReady();
        instances_.push_back(std::move(instance));
        return *instances_.back();
    }

    Standin& standin() { return token_.standin(); }
    std::size_t callsOf(const char* function) { return standin().callsOf(function); }

    MainThreadQueue queue_;
    SoftHsmToken token_;
    RecordingErrorBox boxes_;
    std::vector<std::unique_ptr<Instance>> instances_;
    static std::unique_ptr<CompanionDouble> companion_;
};

std::unique_ptr<CompanionDouble> PluginObject::companion_;

// The page's token methods with arguments they accept (the session comes first).
struct TokenMethod {
    const char* name;
    VariantList args;
};
const std::vector<TokenMethod>& tokenMethods() {
    static const std::vector<TokenMethod> methods = {
        {"olvIsTokenPresentAndOK", {}},
        {"olvIsUserLoggedIn", {}},
        {"olvUserLoginDlg", {}},
        {"olvLogout", {}},
        {"olvSign", {variant("c1"), variant(kHash)}},
        {"olvGenKeyPair", {variant("c1")}},
        {"olvDestroyContainer", {variant("c1")}},
        {"olvGetNumberOfContainers", {}},
        {"olvGetPublicKey", {variant("c1")}},
    };
    return methods;
}

TEST_F(PluginObject, TwoInstancesShareOneLoadAndTheLastDetachFinalises) {
    standin().reset();
    Instance& first = make();
    Instance& second = make();
    first.attach();
    second.attach();
    EXPECT_EQ(callsOf("C_Initialize"), 1u);
    EXPECT_EQ(orv::moduleLoadCount, 2);

    first.detach();
    EXPECT_EQ(callsOf("C_Finalize"), 0u);
    EXPECT_TRUE(standin().targetInitialized());
    EXPECT_TRUE(isTrue(second.call("olvIsTokenPresentAndOK")));
    EXPECT_TRUE(isTrue(second.call("olvUserLoginDlg")));

    second.detach();
    EXPECT_EQ(callsOf("C_Finalize"), 1u);
    EXPECT_FALSE(standin().targetInitialized());
    EXPECT_EQ(callsOf("C_Initialize"), 1u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(PluginObject, AnInstanceWithoutAWindowNeverReachesTheToken) {
    enum class Others { None, OneAttached };
    for (Others others : {Others::None, Others::OneAttached}) {
        SCOPED_TRACE(others == Others::None ? "alone" : "beside an attached instance");
        Instance& lonely = make();
        if (others == Others::OneAttached)
            make().attach();
        standin().reset();
        const long expected = others == Others::None ? -51 : -10;
        for (const TokenMethod& m : tokenMethods())
            EXPECT_TRUE(isStatus(lonely.call(m.name, m.args), expected)) << m.name;
        EXPECT_TRUE(isStatus(lonely.call("olvGetContainerName", {variant(0)}), others == Others::None ? -51 : -20));
        EXPECT_TRUE(isKeyText(lonely.call("olvRepair", {variant(kKeyText), variant(kHash)})));
        EXPECT_EQ(standin().callCount(), 0u);
        EXPECT_TRUE(boxes_.boxes().empty());
        instances_.clear();
    }
}

TEST_F(PluginObject, ADetachedInstanceBehavesLikeOneThatNeverHadAWindow) {
    Instance& first = make();
    first.attach();
    ASSERT_TRUE(isTrue(first.call("olvIsTokenPresentAndOK")));
    ASSERT_TRUE(isTrue(first.call("olvUserLoginDlg")));
    ASSERT_TRUE(isKeyText(first.call("olvGenKeyPair", {variant("c1")})));
    ASSERT_TRUE(orv::test::isCount(first.call("olvGetNumberOfContainers"), 1));
    ASSERT_TRUE(orv::test::isText(first.call("olvGetContainerName", {variant(0)}), "c1"));
    first.detach();

    // Another instance loads the module anew; the first must not call through it.
    Instance& second = make();
    second.attach();
    standin().reset();
    for (const TokenMethod& m : tokenMethods())
        EXPECT_TRUE(isStatus(first.call(m.name, m.args), -10)) << m.name;
    EXPECT_TRUE(isStatus(first.call("olvGetContainerName", {variant(0)}), -20));
    EXPECT_EQ(standin().callCount(), 0u);

    // Given a window again, it works again.
    first.attach();
    EXPECT_TRUE(isTrue(first.call("olvIsTokenPresentAndOK")));
    first.detach();
    second.detach();
    EXPECT_EQ(callsOf("C_Finalize"), 1u);
}

TEST_F(PluginObject, MouseEventsAreLeftToTheBrowser) {
    Instance& instance = make();
    instance.attach();
    FB::MouseDownEvent down(FB::MouseButton_Left, 1, 2);
    FB::MouseUpEvent up(FB::MouseButton_Left, 1, 2);
    FB::MouseMoveEvent move(3, 4);
    EXPECT_FALSE(instance.window->sendEvent(&down));
    EXPECT_FALSE(instance.window->sendEvent(&up));
    EXPECT_FALSE(instance.window->sendEvent(&move));
    instance.detach();
}

TEST_F(PluginObject, EventsFromASourceThatIsNotAWindowAreNotHandled) {
    Instance& instance = make();
    FB::PluginEventSource notAWindow;
    FB::AttachedEvent attached;
    FB::MouseDownEvent down(FB::MouseButton_Left, 1, 2);
    EXPECT_FALSE(instance.plugin->handleEvent(&attached, &notAWindow));
    EXPECT_FALSE(instance.plugin->handleEvent(&down, &notAWindow));
    EXPECT_FALSE(instance.plugin->handleEvent(&attached, nullptr));
    EXPECT_EQ(orv::moduleLoadCount, 0) << "an attach from elsewhere loaded the module";
}

TEST_F(PluginObject, AnInstanceDestroyedWithItsWindowStillSetGivesItsShareBack) {
    Instance& instance = make();
    instance.attach();
    ASSERT_EQ(orv::moduleLoadCount, 1);
    instance.plugin.reset();  // the adapter never cleared the window
    EXPECT_EQ(orv::moduleLoadCount, 0);
    EXPECT_EQ(callsOf("C_Finalize"), 1u);
    instance.window.reset();
}

TEST_F(PluginObject, LinuxRunsWindowlessWhateverThePageAsks) {
    Instance& instance = make();
    instance.plugin->setParams({{"windowless", variant("false")}});
    EXPECT_TRUE(instance.plugin->isWindowless());
}

class TestBrowserPlugin : public FB::BrowserPlugin {
public:
    using FB::BrowserPlugin::BrowserPlugin;
    void shutdown() override {}
};

TEST(PluginFactory, AnyMimeTypeGivesAnOrvanta) {
    FB::FactoryBasePtr factory = FB::getFactoryInstance();
    ASSERT_TRUE(factory);
    EXPECT_EQ(FB::getFactoryInstance(), factory) << "one factory per process";
    EXPECT_EQ(factory->getPluginName("application/x-orvanta"), "orvanta");
    EXPECT_EQ(factory->getPluginDescription("text/plain"), "pelorima orvanta plugin");
    for (const char* mimetype : {"application/x-orvanta", "text/html", ""}) {
        EXPECT_TRUE(std::dynamic_pointer_cast<orv::orvanta>(factory->createPlugin(mimetype))) << mimetype;
        TestBrowserPlugin adapter(mimetype);
        EXPECT_TRUE(std::dynamic_pointer_cast<orv::orvanta>(adapter.getPluginMain())) << mimetype;
        adapter.setFilesystemPath("/plugins/nporvanta.so");
        EXPECT_EQ(adapter.getPluginMain()->getFilesystemPath(), "/plugins/nporvanta.so");
    }
}

// The message a call gets from an instance whose page may not use the token; empty when
// the call went through.
std::string refusalOf(Instance& instance, const std::string& method, const VariantList& args) {
    try {
        instance.call(method, args);
    } catch (const FB::script_error& e) {
        return e.what();
    }
    return std::string();
}

// A page the person did not allow never reaches the token module: not at attach, not on any
// call (including "olvRepair", which needs no token); every token method answers with the
// reason, and the version is still there to read.
TEST_F(PluginObject, APageThatMayNotUseTheTokenMakesNoModuleCall) {
    const struct {
        const char* page;
        const char* refusal;
    } cases[] = {
        {kDeniedPage, "The page origin https://tracker.example is not allowed to use the token"},
        {"http://intranet.example/", "The page origin \"http://intranet.example\" is not a secure origin"},
        {"file:///home/me/page.html", "The page origin \"file://\" is not a secure origin"},
        {nullptr, "The page origin \"null\" is not a secure origin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page ? c.page : "no window object");
        standin().reset();
        Instance& instance = make("application/x-orvanta", c.page);
        instance.attach();
        EXPECT_EQ(orv::moduleLoadCount, 0);
        std::vector<TokenMethod> methods = tokenMethods();
        methods.push_back({"olvGetContainerName", {variant(0)}});
        methods.push_back({"olvRepair", {variant(kKeyText), variant(kHash)}});
        for (const TokenMethod& m : methods)
            EXPECT_EQ(refusalOf(instance, m.name, m.args).find(c.refusal), 0u) << m.name;
        EXPECT_EQ(instance.call("get_version").convert_cast<std::string>(), "1.1");
        instance.detach();
        EXPECT_EQ(standin().callCount(), 0u);
        instances_.clear();
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

// A page nobody was asked about is put to the person on its first token call, not when it
// merely embeds the plug-in; allowed then, its module is loaded for that call and the answer
// is remembered. A refusal or a dismissed prompt leaves the module untouched.
TEST_F(PluginObject, APageIsAskedOnItsFirstTokenCallAndLoadsTheModuleWhenAllowed) {
    const struct {
        const char* button;
        const char* page;
        bool allowed;
        const char* remembered;
    } cases[] = {
        {"notok", "https://shop.example/", true, "allow https://shop.example"},
        {"yes", "https://other.example/", false, "deny https://other.example"},
        {"no", "https://third.example/", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        setenv("PEER_CONFIRM", c.button, 1);
        standin().reset();
        Instance& instance = make("application/x-orvanta", c.page);
        instance.attach();
        EXPECT_EQ(standin().callCount(), 0u);
        const FB::variant present = [&] {
            try {
                return instance.call("olvIsTokenPresentAndOK");
            } catch (const FB::script_error& e) {
                return variant(std::string(e.what()));
            }
        }();
        if (c.allowed) {
            EXPECT_TRUE(isTrue(present));
            EXPECT_EQ(callsOf("C_Initialize"), 1u);
            EXPECT_TRUE(isTrue(instance.call("olvUserLoginDlg")));
        } else {
            EXPECT_EQ(standin().callCount(), 0u);
            EXPECT_EQ(orv::moduleLoadCount, 0);
        }
        std::ifstream in(personsOriginsFile());
        std::stringstream text;
        text << in.rdbuf();
        if (c.remembered) {
            EXPECT_NE(text.str().find(c.remembered), std::string::npos) << text.str();
        }
        instance.detach();
        instances_.clear();
        EXPECT_EQ(orv::moduleLoadCount, 0);
    }
}

// orvanta-host checks each request itself: its plug-in objects load the module with their
// window and ask nothing, whatever document they could be said to be in.
TEST_F(PluginObject, ObjectsOfAProcessThatChecksRequestsItselfDoNotAsk) {
    orv::setPluginObjectsCheckOrigin(false);
    standin().reset();
    Instance& instance = make("application/x-orvanta", nullptr);
    instance.attach();
    EXPECT_EQ(callsOf("C_Initialize"), 1u);
    EXPECT_TRUE(isTrue(instance.call("olvIsTokenPresentAndOK")));
    instance.detach();
    orv::setPluginObjectsCheckOrigin(true);
}

TEST_F(PluginObject, TheLogFileNeverHoldsThePinOrTheKey) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("orvanta-secrets-" + std::to_string(getpid()) + ".log"))
                                 .string();
    std::remove(path.c_str());
    {
        orv::test::LogCapture restore;
        FB::Log::setSink(FB::Log::makeFileSink(path, FB::Log::Level::Trace));
        Instance& instance = make();
        instance.attach();
        ASSERT_TRUE(isTrue(instance.call("olvIsTokenPresentAndOK")));
        ASSERT_TRUE(isTrue(instance.call("olvUserLoginDlg")));
        ASSERT_TRUE(isKeyText(instance.call("olvGenKeyPair", {variant("c1")})));
        ASSERT_TRUE(isKeyText(instance.call("olvSign", {variant("c1"), variant(kHash)})));
        ASSERT_TRUE(isKeyText(instance.call("olvRepair", {variant(kKeyText), variant(kHash)})));
        instance.detach();
        instances_.clear();
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path.c_str());
    const std::string log = text.str();
    EXPECT_NE(log.find("[PluginCore] Window Set"), std::string::npos) << "the file got no records";
    EXPECT_NE(log.find("[PluginCore] Plugin Ready"), std::string::npos);
    EXPECT_EQ(log.find(SoftHsmToken::kUserPin), std::string::npos);
    EXPECT_EQ(log.find(kKeyText), std::string::npos);
}

} // namespace
