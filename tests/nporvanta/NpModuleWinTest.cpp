// The built nporvanta.dll as a Windows browser drives it: loaded with LoadLibrary from a
// folder of its own beside the vendor module's double (a token in memory), its exports
// found by name, function tables of version 26 and of version 18 (no
// NPN_PluginThreadAsyncCall), real windows, and page script's calls through the NPClass
// of the root object. The PIN comes from the olvgui companion double. The page's origin is
// its window's location; the person's allowed-origins file of the run allows kPageAddress.

#include "CompanionDouble.h"
#include "NpapiWinHost.h"
#include "VendorPageSteps.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <thread>
#include <vector>

namespace orv { namespace test {
namespace {

std::wstring executableFolder() {
    wchar_t exe[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, n);
    return path.substr(0, path.rfind(L'\\'));
}

const std::wstring kFolder = executableFolder() + L"\\npapi-winhost";
const std::wstring kPlugin = kFolder + L"\\nporvanta.dll";
const std::wstring kVendor = kFolder + L"\\olpkcs11xsg.dll";

const char* const kPageAddress = "https://bank.orvanta.test/sign.html";

std::string kOriginsFile;  // the person's answers, written by each run

// The version-18 table ends with NPN_Enumerate.
constexpr uint16_t kVersion18Size = static_cast<uint16_t>(offsetof(NPNetscapeFuncs, enumerate) + sizeof(void*));

// What page script sees of a call's outcome.
struct Outcome {
    bool ok = false;
    char kind = '-';  // 'u' void, 'n' null, 'b' bool, 'd' number, 's' string, 'o' object
    bool boolean = false;
    double number = 0;
    std::string text;

    static Outcome of(bool ok, const NPVariant& v) {
        Outcome o;
        o.ok = ok;
        if (!ok)
            return o;
        switch (v.type) {
        case NPVariantType_Void: o.kind = 'u'; break;
        case NPVariantType_Null: o.kind = 'n'; break;
        case NPVariantType_Bool: o.kind = 'b'; o.boolean = NPVARIANT_TO_BOOLEAN(v); break;
        case NPVariantType_Int32: o.kind = 'd'; o.number = NPVARIANT_TO_INT32(v); break;
        case NPVariantType_Double: o.kind = 'd'; o.number = NPVARIANT_TO_DOUBLE(v); break;
        case NPVariantType_String:
            o.kind = 's';
            o.text.assign(NPVARIANT_TO_STRING(v).UTF8Characters, NPVARIANT_TO_STRING(v).UTF8Length);
            break;
        case NPVariantType_Object: o.kind = 'o'; break;
        }
        return o;
    }
    bool isTrue() const { return ok && kind == 'b' && boolean; }
    bool isNumber(double n) const { return ok && kind == 'd' && number == n; }
};

std::string describe(const Outcome& o) {
    if (!o.ok)
        return "<call failed>";
    switch (o.kind) {
    case 'b': return o.boolean ? "true" : "false";
    case 'd': return std::to_string(o.number);
    case 's': return "\"" + o.text + "\"";
    default: return std::string("<") + o.kind + ">";
    }
}

using Arg = PageArg;

// What a browser hands a windowed instance: its child window, 300 x 100.
NPWindow windowedIn(HWND child) {
    NPWindow window{};
    window.window = child;
    window.width = 300;
    window.height = 100;
    window.type = NPWindowTypeWindow;
    return window;
}

class NpModuleWin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Read by each load of the plug-in, when it first checks a page.
        kOriginsFile = answerTestOrigins("orvanta-npapi-origins-");
        CompanionDouble::install(CompanionKind::Configurable).answer("123456");
    }
    static void TearDownTestSuite() { std::remove(kOriginsFile.c_str()); }

    void start(uint16_t version, uint16_t size, const std::string& address = kPageAddress) {
        browser = std::make_unique<FakeNpapiBrowser>(version, size);
        browser->withLocation(address, 0);
        browser->withLocation(address, 1);
        host = std::make_unique<NpapiWinHost>(kPlugin, *browser);
        ASSERT_TRUE(host->loaded()) << host->loadError();
    }
    void TearDown() override {
        host.reset();
        browser.reset();
        // The plug-in gave its vendor module back with its last instance.
        EXPECT_EQ(GetModuleHandleW(kVendor.c_str()), nullptr);
    }

    long vendorCalls(const char* which) {
        HMODULE vendor = GetModuleHandleW(kVendor.c_str());
        if (!vendor)
            return -1;
        auto calls = reinterpret_cast<long (*)(const char*)>(
            reinterpret_cast<void*>(GetProcAddress(vendor, "vendor_double_calls")));
        return calls ? calls(which) : -1;
    }

    NPObject* scriptable(NPP npp) {
        NPObject* obj = nullptr;
        EXPECT_EQ(host->plugin().getvalue(npp, NPPVpluginScriptableNPObject, &obj), NPERR_NO_ERROR);
        return obj;
    }

    // page script's obj.name(args...), the way the browser resolves it: a method when
    // hasMethod says so, otherwise the property's function object called.
    Outcome call(NPObject* obj, const std::string& name, const std::vector<Arg>& args = {}) {
        std::vector<NPVariant> in;
        for (const Arg& a : args) {
            if (a.isText) {
                in.push_back(browser->stringVariant(a.text));
            } else {
                NPVariant d;
                DOUBLE_TO_NPVARIANT(a.number, d);
                in.push_back(d);
            }
        }
        const NPIdentifier id = browser->stringId(name);
        BrowserValue result;
        bool ok = false;
        if (obj->_class->hasMethod(obj, id)) {
            ok = obj->_class->invoke(obj, id, in.data(), static_cast<uint32_t>(in.size()), result.get());
        } else if (obj->_class->hasProperty(obj, id)) {
            BrowserValue method;
            if (obj->_class->getProperty(obj, id, method.get()) && NPVARIANT_IS_OBJECT(method.value)) {
                NPObject* fn = NPVARIANT_TO_OBJECT(method.value);
                ok = fn->_class->invokeDefault(fn, in.data(), static_cast<uint32_t>(in.size()), result.get());
            }
        }
        for (NPVariant& v : in)
            browser->releaseValue(v);
        return Outcome::of(ok, result.value);
    }

    Outcome property(NPObject* obj, const std::string& name) {
        BrowserValue result;
        const NPIdentifier id = browser->stringId(name);
        const bool ok = obj->_class->hasProperty(obj, id) && obj->_class->getProperty(obj, id, result.get());
        return Outcome::of(ok, result.value);
    }

    std::string lastException() {
        auto all = browser->exceptions();
        return all.empty() ? std::string() : all.back().message;
    }

    std::unique_ptr<FakeNpapiBrowser> browser;
    std::unique_ptr<NpapiWinHost> host;
};

TEST_F(NpModuleWin, ExportsFillTheTableAndAnswerWithoutAnInstance) {
    start(26, FakeNpapiBrowser::kVersion26Size);
    NPPluginFuncs& f = host->plugin();
    for (const void* entry : {(const void*)f.newp, (const void*)f.destroy, (const void*)f.setwindow,
                              (const void*)f.newstream, (const void*)f.destroystream, (const void*)f.asfile,
                              (const void*)f.writeready, (const void*)f.write, (const void*)f.print,
                              (const void*)f.event, (const void*)f.urlnotify, (const void*)f.getvalue,
                              (const void*)f.setvalue})
        EXPECT_NE(entry, nullptr);
    EXPECT_EQ(f.javaClass, nullptr);
    const char* text = nullptr;
    ASSERT_EQ(f.getvalue(nullptr, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "orvanta");
    ASSERT_EQ(f.getvalue(nullptr, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "pelorima orvanta plugin");
    NPWindow window{};
    EXPECT_EQ(f.setwindow(nullptr, &window), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.event(nullptr, nullptr), 0);
    // No instance, no window: the vendor module is not touched.
    EXPECT_EQ(GetModuleHandleW(kVendor.c_str()), nullptr);
}

// Page script's whole session on the token, every method through the bridge.
TEST_F(NpModuleWin, EveryScriptMethodReachesTheToken) {
    start(26, FakeNpapiBrowser::kVersion26Size);
    NPP npp = browser->instance(0);
    ASSERT_EQ(host->newInstance(npp, EmbedAttributes({"type", "id"}, {"application/x-orvanta", "token"})),
              NPERR_NO_ERROR);
    NPObject* root = scriptable(npp);
    ASSERT_NE(root, nullptr);

    // Before the browser gives a window the vendor module is not loaded.
    EXPECT_EQ(call(root, "get_version").text, "1.1");
    EXPECT_TRUE(call(root, "olvIsTokenPresentAndOK").isNumber(-51)) << describe(call(root, "olvIsTokenPresentAndOK"));

    HWND child = host->makePluginWindow();
    ASSERT_NE(child, nullptr);
    NPWindow window = windowedIn(child);
    ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    ASSERT_NE(GetModuleHandleW(kVendor.c_str()), nullptr);
    EXPECT_EQ(vendorCalls("Initialize"), 1);

    const std::string hash = kPageHash;
    CompanionDouble companion = CompanionDouble::install(CompanionKind::Configurable);
    companion.reset();

    EXPECT_EQ(property(root, "version").text, "1.1");
    for (const PageStep& step : vendorPageSteps()) {
        const Outcome got = call(root, step.method, step.args);
        SCOPED_TRACE(std::string(step.method) + " -> " + describe(got));
        ASSERT_TRUE(got.ok) << lastException();
        ASSERT_EQ(got.kind, step.kind);
        if (step.kind == 's')
            EXPECT_EQ(got.text, step.text);
        else if (step.kind == 'd')
            EXPECT_EQ(got.number, step.number);
        else
            EXPECT_EQ(got.boolean, step.number != 0);
    }
    EXPECT_EQ(companion.calls(), kPagePinPrompts);
    EXPECT_EQ(vendorCalls("Sign"), kPageTokenSignatures);

    // The software signature: a fresh nonce each time, 128 upper-case hex characters.
    const std::string key = "KMBNPFRCUEHDJALXKMBNPFRCUEHDJALXKMBNPFRCUEHDJALXKMBNPFRCUEHDJALK";
    const Outcome first = call(root, "olvRepair", {key, hash});
    const Outcome second = call(root, "olvRepair", {key, hash});
    ASSERT_EQ(first.kind, 's') << describe(first);
    EXPECT_EQ(first.text.size(), 128u);
    EXPECT_EQ(first.text.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(first.text, second.text);

    browser->table()->releaseobject(root);
    EXPECT_EQ(host->destroyInstance(npp), NPERR_NO_ERROR);
}

// What the framework refuses reaches the page as an exception with its message.
TEST_F(NpModuleWin, WrongCallsBecomePageExceptions) {
    start(26, FakeNpapiBrowser::kVersion26Size);
    NPP npp = browser->instance(0);
    ASSERT_EQ(host->newInstance(npp, EmbedAttributes({}, {})), NPERR_NO_ERROR);
    NPObject* root = scriptable(npp);
    ASSERT_NE(root, nullptr);
    // With the token loaded, so that the methods get as far as reading their arguments.
    NPWindow window = windowedIn(host->makePluginWindow());
    ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    // A page asks for the token first; that also finds its slot.
    ASSERT_TRUE(call(root, "olvIsTokenPresentAndOK").isTrue());

    struct Case {
        const char* method;
        std::vector<Arg> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"olvGetPublicKey", {"a", "b"}, "Too many arguments, expected 1."},
        {"olvSign", {"a"}, nullptr},
        {"olvGetContainerName", {"not a number"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        const size_t before = browser->exceptions().size();
        const size_t boxes = NpapiWinHost::messageBoxes().size();
        const Outcome got = call(root, c.method, c.args);
        for (size_t i = boxes; i < NpapiWinHost::messageBoxes().size(); ++i)
            ADD_FAILURE() << "message box: " << NpapiWinHost::messageBoxes()[i];
        ASSERT_EQ(browser->exceptions().size(), before + 1) << describe(got);
        if (c.message) {
            EXPECT_EQ(lastException(), c.message);
        }
        EXPECT_FALSE(lastException().empty());
    }
    // A name the object does not have is no method; as a property (the page may add its
    // own) it reads as undefined.
    EXPECT_FALSE(root->_class->hasMethod(root, browser->stringId("olvNoSuchThing")));
    EXPECT_EQ(property(root, "olvNoSuchThing").kind, 'u');

    browser->table()->releaseobject(root);
    EXPECT_EQ(host->destroyInstance(npp), NPERR_NO_ERROR);
}

// A windowed plug-in's own window: subclassed on NPP_SetWindow, its messages handled by the
// plug-in (not by the window's class), given back when the window goes or changes.
TEST_F(NpModuleWin, WindowMessagesReachThePluginWindow) {
    start(26, FakeNpapiBrowser::kVersion26Size);
    NPP npp = browser->instance(0);
    // "windowless" cannot turn this plug-in windowless: it never tells the browser so.
    ASSERT_EQ(host->newInstance(npp, EmbedAttributes({"windowless"}, {"true"})), NPERR_NO_ERROR);
    EXPECT_EQ(browser->callCount("setvalue:" + std::to_string(NPPVpluginWindowBool)), 0);

    HWND first = host->makePluginWindow();
    HWND second = host->makePluginWindow();
    ASSERT_TRUE(first && second);
    const LONG_PTR classProc = reinterpret_cast<LONG_PTR>(NpapiWinHost::pluginWindowClassProc());
    NPWindow window = windowedIn(first);
    ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_NE(GetWindowLongPtrW(first, GWLP_WNDPROC), classProc);
    EXPECT_EQ(browser->callCount("getvalue:" + std::to_string(NPNVnetscapeWindow)), 1);
    // The same window again: nothing new (one attach, one module share).
    window.width = 400;
    ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_EQ(vendorCalls("Initialize"), 1);

    // A click takes the keyboard focus; mouse and key messages stay with the plug-in.
    SetFocus(host->browserWindow());
    SendMessageW(first, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 6));
    EXPECT_EQ(GetFocus(), first);
    SendMessageW(first, WM_LBUTTONUP, 0, MAKELPARAM(5, 6));
    SendMessageW(first, WM_MOUSEMOVE, 0, MAKELPARAM(7, 8));
    SendMessageW(first, WM_KEYDOWN, VK_RETURN, 0);
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_KEYDOWN})
        EXPECT_EQ(NpapiWinHost::messagesAtClassProc(first, m), 0) << m;
    // An unhandled repaint is validated by the plug-in window.
    InvalidateRect(first, nullptr, TRUE);
    UpdateWindow(first);
    EXPECT_FALSE(GetUpdateRect(first, nullptr, FALSE));
    EXPECT_EQ(NpapiWinHost::messagesAtClassProc(first, WM_PAINT), 0);

    // A windowed instance handles no windowless events and paints nothing into a DC.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(GetDC(host->browserWindow()), 64, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, 64, 32, WHITENESS);
    NPEvent paint{WM_PAINT, reinterpret_cast<uintptr_t>(dc), 0};
    NPEvent click{WM_LBUTTONDOWN, 0, MAKELPARAM(1, 1)};
    EXPECT_EQ(host->plugin().event(npp, &paint), 0);
    EXPECT_EQ(host->plugin().event(npp, &click), 0);
    for (int y = 0; y < 32; y += 4)
        for (int x = 0; x < 64; x += 4)
            ASSERT_EQ(GetPixel(dc, x, y) & 0xFFFFFF, 0xFFFFFFu) << x << "," << y;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);

    // Another window: the first gets its own procedure back, the second is taken.
    window.window = second;
    ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_EQ(GetWindowLongPtrW(first, GWLP_WNDPROC), classProc);
    EXPECT_NE(GetWindowLongPtrW(second, GWLP_WNDPROC), classProc);
    SendMessageW(first, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(NpapiWinHost::messagesAtClassProc(first, WM_MOUSEMOVE), 1);
    EXPECT_EQ(vendorCalls("Finalize"), 0);  // the module share moved to the new window

    // No window: the second one is given back and the vendor module released.
    ASSERT_EQ(host->plugin().setwindow(npp, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(GetWindowLongPtrW(second, GWLP_WNDPROC), classProc);
    EXPECT_EQ(GetModuleHandleW(kVendor.c_str()), nullptr);
    EXPECT_EQ(host->destroyInstance(npp), NPERR_NO_ERROR);
}

// "onload" runs once, on the main thread, with the root object: through the browser's
// NPN_PluginThreadAsyncCall (version 26), or through the plug-in's own message window when
// the browser's table is too old to have it (version 18).
TEST_F(NpModuleWin, OnloadArrivesThroughEachHandOver) {
    struct Browser {
        uint16_t version;
        uint16_t size;
        int asyncCalls;
    };
    for (const Browser& b : {Browser{26, FakeNpapiBrowser::kVersion26Size, 1}, Browser{18, kVersion18Size, 0}}) {
        SCOPED_TRACE("version " + std::to_string(b.version));
        start(b.version, b.size);
        NPP npp = browser->instance(0);
        std::vector<std::thread::id> ranOn;
        std::vector<const NPClass*> calledWith;
        PageObject* loaded = browser->newFunction(npp, [&](const std::vector<NPVariant>& args, NPVariant* result) {
            ranOn.push_back(std::this_thread::get_id());
            for (const NPVariant& a : args)
                if (NPVARIANT_IS_OBJECT(a))
                    calledWith.push_back(NPVARIANT_TO_OBJECT(a)->_class);
            VOID_TO_NPVARIANT(*result);
            return true;
        });
        NPVariant fn;
        OBJECT_TO_NPVARIANT(loaded, fn);
        browser->setProperty(browser->window(0), "pageLoaded", fn);
        browser->table()->releaseobject(loaded);

        ASSERT_EQ(host->newInstance(npp, EmbedAttributes({"type", "onload"}, {"application/x-orvanta", "pageLoaded"})),
                  NPERR_NO_ERROR);
        EXPECT_TRUE(ranOn.empty());  // later, never inside NPP_New
        HWND child = host->makePluginWindow();
        NPWindow window = windowedIn(child);
        ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
        ASSERT_TRUE(host->pumpUntil([&] { return !ranOn.empty(); })) << "onload never ran";
        host->pumpUntil([] { return false; }, std::chrono::milliseconds(100));
        ASSERT_EQ(ranOn.size(), 1u);
        EXPECT_EQ(ranOn[0], std::this_thread::get_id());
        EXPECT_EQ(browser->callCount("pluginthreadasynccall"), b.asyncCalls);
        NPObject* root = scriptable(npp);
        ASSERT_EQ(calledWith.size(), 1u);
        EXPECT_EQ(calledWith[0], root->_class);

        // The bridge works the same with either table.
        EXPECT_EQ(call(root, "get_version").text, "1.1");
        EXPECT_TRUE(call(root, "olvIsTokenPresentAndOK").isTrue());

        browser->table()->releaseobject(root);
        EXPECT_EQ(host->destroyInstance(npp), NPERR_NO_ERROR);
        host.reset();
        browser.reset();
    }
}

// The page may keep the root object past its instance: calls on it fail cleanly.
TEST_F(NpModuleWin, RootObjectOutlivingItsInstance) {
    start(26, FakeNpapiBrowser::kVersion26Size);
    NPP npp = browser->instance(0);
    ASSERT_EQ(host->newInstance(npp, EmbedAttributes({}, {})), NPERR_NO_ERROR);
    HWND child = host->makePluginWindow();
    NPWindow window = windowedIn(child);
    ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    NPObject* root = scriptable(npp);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(host->plugin().destroy(npp, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(npp->pdata, nullptr);
    EXPECT_EQ(GetWindowLongPtrW(child, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(NpapiWinHost::pluginWindowClassProc()));
    EXPECT_EQ(GetModuleHandleW(kVendor.c_str()), nullptr);

    const Outcome after = call(root, "olvIsTokenPresentAndOK");
    EXPECT_FALSE(after.ok && after.kind == 'b') << describe(after);
    EXPECT_EQ(host->plugin().destroy(npp, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    browser->table()->releaseobject(root);
    browser->destroyInstance(npp);
}

// The page's origin is its window's location as the browser answers it. A page of a refused
// origin (denied ahead, or not https) gets every token method's refusal as a page
// exception, without a question, and its window loads no vendor module.
TEST_F(NpModuleWin, RefusedPageOriginsMakeNoModuleCall) {
    const std::vector<Arg> none;
    const std::vector<std::pair<const char*, std::vector<Arg>>> methods = {
        {"olvIsTokenPresentAndOK", none}, {"olvIsUserLoggedIn", none}, {"olvUserLoginDlg", none},
        {"olvLogout", none}, {"olvGetNumberOfContainers", none}, {"olvGetContainerName", {0.0}},
        {"olvGenKeyPair", {"c"}}, {"olvGetPublicKey", {"c"}}, {"olvSign", {"c", kPageHash}},
        {"olvDestroyContainer", {"c"}}, {"olvRepair", {"c", kPageHash}}};
    struct Case {
        const char* address;
        std::string refusal;
    };
    for (const Case& c : {Case{"https://evil.orvanta.test/login?next=1",
                               "The page origin " + kDeniedOrigin + " is not allowed to use the token"},
                          Case{"http://bank.orvanta.test/sign.html",
                               "The page origin \"http://bank.orvanta.test\" is not a secure origin"}}) {
        SCOPED_TRACE(c.address);
        start(26, FakeNpapiBrowser::kVersion26Size, c.address);
        NPP npp = browser->instance(0);
        ASSERT_EQ(host->newInstance(npp, EmbedAttributes({}, {})), NPERR_NO_ERROR);
        NPObject* root = scriptable(npp);
        ASSERT_NE(root, nullptr);
        NPWindow window = windowedIn(host->makePluginWindow());
        ASSERT_EQ(host->plugin().setwindow(npp, &window), NPERR_NO_ERROR);
        EXPECT_EQ(GetModuleHandleW(kVendor.c_str()), nullptr);

        const size_t boxes = NpapiWinHost::messageBoxes().size();
        for (const auto& method : methods) {
            const size_t before = browser->exceptions().size();
            const Outcome got = call(root, method.first, method.second);
            ASSERT_EQ(browser->exceptions().size(), before + 1) << method.first << ": " << describe(got);
            EXPECT_EQ(lastException().substr(0, c.refusal.size()), c.refusal) << method.first;
        }
        EXPECT_EQ(NpapiWinHost::messageBoxes().size(), boxes);
        EXPECT_EQ(GetModuleHandleW(kVendor.c_str()), nullptr);

        browser->table()->releaseobject(root);
        EXPECT_EQ(host->destroyInstance(npp), NPERR_NO_ERROR);
        host.reset();
        browser.reset();
    }
}

} // namespace
}} // namespace orv::test
