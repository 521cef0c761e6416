// The built control as Internet Explorer drives it, under Wine's COM, OLE and JScript: the
// module registered (by the installer's host), the control created by class id and by
// ProgID, sited, given its <param>s through IPersistPropertyBag, activated in place in a
// real window and deactivated; page script (jscript.dll, the control as a named item)
// calling every method. The token is the vendor module's double beside the module; the PIN
// comes from the olvgui companion double. The page's origin is the container's document
// address; the person's allowed-origins file of the run allows kPageAddress's origin.

#include "CompanionDouble.h"
#include "CountingDispatch.h"
#include "OleContainer.h"
#include "ScriptHost.h"
#include "VendorPageSteps.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <dispex.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace orv { namespace test {
namespace {

const CLSID CLSID_FBControl0 = {0x7c3b5e21, 0x9a4d, 0x4f6e, {0xb8, 0x12, 0x3d, 0x5a, 0x0c, 0x94, 0xe1, 0xf7}};
const IID IID_IFBControl = {0x3a91c6e4, 0x5b27, 0x4d8f, {0x9e, 0x03, 0x6c, 0x1f, 0x2a, 0x7b, 0x8d, 0x45}};
const IID DIID_IFBComEventSource = {0x8f6e2d40, 0xa1b3, 0x4c57, {0x8d, 0x29, 0xe0, 0x5b, 0x7c, 0x41, 0xa9, 0x63}};

std::wstring executableFolder() {
    wchar_t exe[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, n);
    return path.substr(0, path.rfind(L'\\'));
}

const std::wstring kFolder = executableFolder() + L"\\npapi-winhost";
const std::wstring kPlugin = kFolder + L"\\nporvanta.dll";
const std::wstring kVendor = kFolder + L"\\olpkcs11xsg.dll";

DWORD runLine(std::wstring line) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xfffffffe;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xfffffffd;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

DWORD runHeat(const wchar_t* command) {
    return runLine(L"\"" + executableFolder() + L"\\heat.exe\" " + command + L" \"" + kPlugin + L"\"");
}

long vendorCalls(const char* which) {
    HMODULE vendor = GetModuleHandleW(kVendor.c_str());
    if (!vendor)
        return -1;
    auto calls = reinterpret_cast<long (*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(vendor, "vendor_double_calls")));
    return calls ? calls(which) : -1;
}

bool vendorLoaded() { return GetModuleHandleW(kVendor.c_str()) != nullptr; }

std::string kOriginsFile;  // the person's answers, written by each run

std::string fileText(const std::string& path) {
    std::string text;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        char chunk[512];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
            text.append(chunk, n);
        std::fclose(in);
    }
    return text;
}


std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

using Arg = PageArg;

// The call as page script writes it.
std::wstring callText(const char* method, const std::vector<Arg>& args) {
    std::wstring text = L"plugin." + wide(method) + L"(";
    for (size_t i = 0; i < args.size(); ++i) {
        text += i ? L", " : L"";
        text += args[i].isText ? L"\"" + wide(args[i].text) + L"\""
                               : std::to_wstring(static_cast<long long>(args[i].number));
    }
    return text + L")";
}

class ControlContainer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Read once, when the control first checks a page: before any control is made.
        kOriginsFile = answerTestOrigins("orvanta-activex-origins-");
        OleInitialize(nullptr);
        CompanionDouble::install(CompanionKind::Configurable).answer("123456");
        ASSERT_EQ(runHeat(L"register"), 0u);
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(runHeat(L"unregister"), 0u);
        CoFreeUnusedLibraries();
        OleUninitialize();
        std::remove(kOriginsFile.c_str());
    }

    void TearDown() override {
        if (control) {
            control->Close(OLECLOSE_NOSAVE);
            control->SetClientSite(nullptr);
            EXPECT_EQ(control->Release(), 0u);
            control = nullptr;
        }
        // Every instance gave the vendor module back.
        EXPECT_FALSE(vendorLoaded());
    }

    void create() {
        ASSERT_EQ(CoCreateInstance(CLSID_FBControl0, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                   reinterpret_cast<void**>(&control)),
                  S_OK);
    }

    // Site, params, in-place activation: the order Internet Explorer follows.
    void embed(ParamBag& params) {
        create();
        siteLoadActivate(params);
    }
    void siteLoadActivate(ParamBag& params) {
        ASSERT_NE(control, nullptr);
        ASSERT_EQ(control->SetClientSite(page.site()), S_OK);
        loadActivate(params);
    }
    void loadActivate(ParamBag& params) {
        IPersistPropertyBag* persist = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist)), S_OK);
        IPropertyBag* bag = OleContainer::makeBag(params);
        EXPECT_EQ(persist->Load(bag, nullptr), S_OK);
        bag->Release();
        persist->Release();
        RECT pos = {10, 10, 310, 110};
        ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, page.site(), 0, page.window(), &pos), S_OK);
    }

    IDispatchEx* dispatch() {
        IDispatchEx* disp = nullptr;
        EXPECT_EQ(control->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&disp)), S_OK);
        return disp;
    }

    void deactivate() {
        IOleInPlaceObject* inPlace = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
        EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
        inPlace->Release();
    }

    // What a container does to let go of the control; its reference count afterwards.
    ULONG releaseControl() {
        control->Close(OLECLOSE_NOSAVE);
        control->SetClientSite(nullptr);
        const ULONG left = control->Release();
        control = nullptr;
        return left;
    }

    IConnectionPoint* eventPoint() {
        IConnectionPointContainer* points = nullptr;
        EXPECT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)), S_OK);
        IConnectionPoint* point = nullptr;
        if (points) {
            EXPECT_EQ(points->FindConnectionPoint(DIID_IFBComEventSource, &point), S_OK);
            points->Release();
        }
        return point;
    }

    OleContainer page;
    IOleObject* control = nullptr;
};

TEST_F(ControlContainer, CreatedByClassIdAndProgIdWithEveryInterface) {
    for (const wchar_t* progId : {L"Kelmo.orvanta", L"Kelmo.orvanta.1"}) {
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_FBControl0));
    }
    create();
    const IID* interfaces[] = {&DIID_IFBComEventSource, &IID_IDispatch, &__uuidof(IDispatchEx), &IID_IFBControl,
                               &IID_IViewObjectEx, &IID_IViewObject2, &IID_IViewObject,
                               &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow,
                               &IID_IOleInPlaceActiveObject, &IID_IOleControl, &IID_IOleObject,
                               &IID_IConnectionPointContainer, &IID_IConnectionPoint, &IID_IQuickActivate,
                               &IID_IObjectWithSite, &IID_IObjectSafety, &IID_IPersistPropertyBag,
                               &IID_IProvideClassInfo, &IID_IProvideClassInfo2};
    for (const IID* iid : interfaces) {
        IUnknown* p = nullptr;
        EXPECT_EQ(control->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
        if (p)
            p->Release();
    }
    IUnknown* none = nullptr;
    EXPECT_EQ(control->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    DWORD status = 0;
    EXPECT_EQ(control->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 131473u);
}

// Site, load, activate, deactivate: the token module comes with the window and goes with it.
TEST_F(ControlContainer, LifecycleLoadsTheTokenModuleWithTheWindow) {
    ParamBag params;
    params.add(L"onload", L"pageLoaded");
    params.add(L"windowless", L"false");
    embed(params);
    EXPECT_EQ(page.siteCalls("QueryService"), 1);
    EXPECT_EQ(page.siteCalls("OnInPlaceActivate"), 1);

    HWND window = nullptr;
    IOleWindow* oleWindow = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&oleWindow)), S_OK);
    EXPECT_EQ(oleWindow->GetWindow(&window), S_OK);
    oleWindow->Release();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), page.window());
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_EQ(rect.bottom - rect.top, 100);
    ASSERT_TRUE(vendorLoaded());
    EXPECT_EQ(vendorCalls("Initialize"), 1);

    IDispatchEx* disp = dispatch();
    VARIANT state;
    VariantInit(&state);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(disp->InvokeEx(DISPID_READYSTATE, 0, DISPATCH_PROPERTYGET, &none, &state, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(&state), VT_I4);
    EXPECT_EQ(V_I4(&state), 4);
    DISPID id = 0;
    BSTR name = SysAllocString(L"get_version");
    ASSERT_EQ(disp->GetDispID(name, 0, &id), S_OK);
    VARIANT version;
    VariantInit(&version);
    ASSERT_EQ(disp->InvokeEx(id, 0, DISPATCH_METHOD, &none, &version, nullptr, nullptr), S_OK);
    ASSERT_EQ(V_VT(&version), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&version), L"1.1");
    VariantClear(&version);

    deactivate();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(vendorLoaded());
    EXPECT_EQ(page.siteCalls("OnInPlaceDeactivate"), 1);
    // After deactivation the instance is gone: calls fail cleanly.
    EXPECT_EQ(disp->InvokeEx(id, 0, DISPATCH_METHOD, &none, &version, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    DISPID after = 0;
    EXPECT_EQ(disp->GetDispID(name, 0, &after), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(after, DISPID_UNKNOWN);
    DISPID next = 0;
    EXPECT_EQ(disp->GetNextDispID(fdexEnumAll, DISPID_STARTENUM, &next), S_FALSE);
    SysFreeString(name);
    disp->Release();
    // A later site change only lets go of what is left.
    EXPECT_EQ(control->SetClientSite(page.site()), S_OK);
}

// On a page with a window "onload" calls the page's function once, with the plug-in's root
// object. An "on..." param naming a function the page lacks is no error.
TEST_F(ControlContainer, OnloadCallsThePageOnceWithTheRootObject) {
    ScriptHost script;
    ASSERT_TRUE(script.started());
    ASSERT_TRUE(script.run(L"var loads = []; function pageLoaded(p) { loads.push(p); }"));
    IWebBrowser2* browser = script.makeBrowser();
    ASSERT_NE(browser, nullptr);
    page.servePage(browser);
    browser->Release();
    ParamBag params;
    params.add(L"onload", L"pageLoaded");
    params.add(L"onclick", L"noSuchFunction");
    embed(params);
    ASSERT_TRUE(script.addItem(L"plugin", control));
    OleContainer::pump(300);
    EXPECT_EQ(script.eval(L"loads.length").number(), 1.0);
    EXPECT_EQ(script.eval(L"loads[0].version + '|' + loads[0].get_version()").text(), "1.1|1.1");
    // Later activity on the page does not call it again.
    deactivate();
    OleContainer::pump(100);
    EXPECT_EQ(script.eval(L"loads.length").number(), 1.0);
    page.servePage(nullptr);
}

// Registered the way a user without administrator rights does it (regsvr32 /n /i:user), with
// the machine-wide registration taken away for the while. Windows' COM reads the classes of
// HKCU\Software\Classes before the machine's; Wine 8's COM looks only at the machine's
// (BROWSER-NOTES.md), so each answers as documented for it. A container finds the control
// through the user's keys itself (ProgID, class id, server path) and creates it through
// the module's class object: that control is embedded and called from page script.
bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring userClassesValue(const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ, &opened) !=
        ERROR_SUCCESS)
        return std::wstring();
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value - sizeof value[0];
    const LONG read = RegQueryValueExW(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return read == ERROR_SUCCESS ? std::wstring(value) : std::wstring();
}

TEST_F(ControlContainer, RegisteredForTheUserOnly) {
    ASSERT_EQ(runHeat(L"unregister"), 0u);
    const std::wstring module = L"\"" + kPlugin + L"\"";
    EXPECT_EQ(CoCreateInstance(CLSID_FBControl0, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                               reinterpret_cast<void**>(&control)),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(control, nullptr);
    ASSERT_EQ(runLine(L"regsvr32 /s /n /i:user " + module), 0u);

    // The user's keys, read as a container that must find a per-user control does.
    const std::wstring classText = userClassesValue(L"Kelmo.orvanta\\CLSID");
    CLSID fromProgId = {};
    ASSERT_EQ(CLSIDFromString(const_cast<LPOLESTR>(classText.c_str()), &fromProgId), NOERROR) << "no ProgID key";
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_FBControl0));
    EXPECT_EQ(userClassesValue(L"Kelmo.orvanta.1\\CLSID"), classText);
    const std::wstring server = userClassesValue(L"CLSID\\" + classText + L"\\InprocServer32");
    EXPECT_EQ(lstrcmpiW(server.c_str(), kPlugin.c_str()), 0);

    // COM's own answer, as measured for each.
    CLSID clsid = {};
    IOleObject* byCom = nullptr;
    const HRESULT byProgId = CLSIDFromProgID(L"Kelmo.orvanta", &clsid);
    const HRESULT byClassId = CoCreateInstance(CLSID_FBControl0, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                               reinterpret_cast<void**>(&byCom));
    if (underWine()) {
        EXPECT_EQ(byProgId, CO_E_CLASSSTRING);
        EXPECT_EQ(byClassId, REGDB_E_CLASSNOTREG);
    } else {
        EXPECT_EQ(byProgId, S_OK);
        EXPECT_EQ(byClassId, S_OK);
    }
    if (byCom)
        byCom->Release();

    HMODULE loaded = LoadLibraryW(server.c_str());
    ASSERT_NE(loaded, nullptr);
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(loaded, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(fromProgId, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&control)), S_OK);
    factory->Release();
    ParamBag params;
    siteLoadActivate(params);
    {
        ScriptHost script;
        ASSERT_TRUE(script.addItem(L"plugin", control));
        EXPECT_EQ(script.eval(L"plugin.get_version()").text(), "1.1");
    }
    deactivate();
    EXPECT_EQ(releaseControl(), 0u);
    FreeLibrary(loaded);

    EXPECT_EQ(runLine(L"regsvr32 /s /u /n /i:user " + module), 0u);
    HKEY gone = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}",
                            0, KEY_READ, &gone),
              ERROR_SUCCESS);
    ASSERT_EQ(runHeat(L"register"), 0u);
}

// IObjectWithSite is the other way in: it sites the control and makes it ready at once.
TEST_F(ControlContainer, SetSiteSitesAndReadies) {
    create();
    IObjectWithSite* withSite = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
    EXPECT_EQ(withSite->SetSite(page.site()), S_OK);
    IOleClientSite* got = nullptr;
    EXPECT_EQ(withSite->GetSite(IID_IOleClientSite, reinterpret_cast<void**>(&got)), S_OK);
    EXPECT_EQ(got, page.site());
    if (got)
        got->Release();
    ScriptHost script;
    ASSERT_TRUE(script.addItem(L"plugin", control));
    EXPECT_EQ(script.eval(L"plugin.get_version()").text(), "1.1");
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    withSite->Release();
}

// A live control keeps the module; the page's sink objects connect as event interfaces.
TEST_F(ControlContainer, ModuleStaysWhileControlsLiveAndSinksConnect) {
    ParamBag params;
    embed(params);
    HMODULE module = GetModuleHandleW(kPlugin.c_str());
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);

    ScriptHost script;
    ASSERT_TRUE(script.addItem(L"plugin", control));
    ASSERT_TRUE(script.run(L"var sink = { fired: 0 }; function handler() {}"));
    EXPECT_TRUE(script.eval(L"plugin.attachEvent('onload', handler), plugin.detachEvent('onload', handler), true")
                    .isTrue());
    ScriptResult sink = script.eval(L"sink");
    ASSERT_EQ(V_VT(&sink.value), VT_DISPATCH);
    IConnectionPointContainer* points = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)), S_OK);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(points->FindConnectionPoint(DIID_IFBComEventSource, &point), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(V_DISPATCH(&sink.value), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), E_UNEXPECTED);
    point->Release();
    points->Release();
    deactivate();
}

// The ready state is there before the object is: 1 (loading) until the parameters are in.
TEST_F(ControlContainer, ReadyStateIsLoadingUntilReady) {
    create();
    IDispatchEx* disp = dispatch();
    ASSERT_NE(disp, nullptr);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT state;
    VariantInit(&state);
    ASSERT_EQ(disp->InvokeEx(DISPID_READYSTATE, 0, DISPATCH_PROPERTYGET, &none, &state, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(&state), VT_I4);
    EXPECT_EQ(V_I4(&state), 1);
    EXPECT_EQ(disp->InvokeEx(DISPID_READYSTATE, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    ASSERT_EQ(control->SetClientSite(page.site()), S_OK);
    IPersistPropertyBag* persist = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(persist->InitNew(), S_OK);
    persist->Release();
    VariantInit(&state);
    ASSERT_EQ(disp->InvokeEx(DISPID_READYSTATE, 0, DISPATCH_PROPERTYGET, &none, &state, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_I4(&state), 4);
    disp->Release();
}

// However the control's life ends, every sink a container connected gets its reference
// back: released while active, deactivated first, its site removed, or sited again before.
TEST_F(ControlContainer, ConnectedSinksAreGivenBackHoweverTheControlEnds) {
    enum class End { Release, Deactivate, SiteRemoved, SitedAgain };
    for (End end : {End::Release, End::Deactivate, End::SiteRemoved, End::SitedAgain}) {
        SCOPED_TRACE(static_cast<int>(end));
        CountingDispatch sink;
        ParamBag params;
        embed(params);
        IConnectionPoint* point = eventPoint();
        ASSERT_NE(point, nullptr);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
        point->Release();
        EXPECT_GT(sink.refs, 1);
        switch (end) {
        case End::Release:
            EXPECT_EQ(control->Release(), 0u);
            control = nullptr;
            break;
        case End::Deactivate:
            deactivate();
            EXPECT_EQ(sink.refs, 1) << "a deactivated control serves no events";
            break;
        case End::SiteRemoved:
            EXPECT_EQ(control->SetClientSite(nullptr), S_OK);
            EXPECT_EQ(sink.refs, 1) << "a control without a site serves no events";
            break;
        case End::SitedAgain:
            EXPECT_EQ(control->SetClientSite(page.site()), S_OK);
            EXPECT_GT(sink.refs, 1) << "still connected after moving to the new site";
            break;
        }
        if (control) {
            EXPECT_EQ(releaseControl(), 0u);
        }
        EXPECT_EQ(sink.refs, 1);
        EXPECT_FALSE(vendorLoaded());
    }
}

// After deactivation there is nothing to connect to: Advise fails and keeps nothing.
TEST_F(ControlContainer, AdviseAfterDeactivationKeepsNothing) {
    ParamBag params;
    embed(params);
    deactivate();
    CountingDispatch sink;
    IConnectionPoint* point = eventPoint();
    ASSERT_NE(point, nullptr);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&sink, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(sink.refs, 1);
    point->Release();
    EXPECT_EQ(releaseControl(), 0u);
    EXPECT_EQ(sink.refs, 1);
}

// Quick activation hands over the container's event sink: it is connected (the cookie
// disconnects it) and kept through Load and activation.
TEST_F(ControlContainer, QuickActivateConnectsTheContainersEventSink) {
    create();
    CountingDispatch sink;
    IQuickActivate* quick = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(&quick)), S_OK);
    QACONTAINER container = {};
    container.cbSize = sizeof container;
    container.pClientSite = page.site();
    container.pUnkEventSink = &sink;
    QACONTROL answer = {};
    answer.cbSize = sizeof answer;
    ASSERT_EQ(quick->QuickActivate(&container, &answer), S_OK);
    quick->Release();
    EXPECT_EQ(answer.dwMiscStatus, 131473u);
    EXPECT_NE(answer.dwEventCookie, 0u);
    EXPECT_GT(sink.refs, 1);

    ParamBag params;
    loadActivate(params);
    EXPECT_GT(sink.refs, 1);

    IConnectionPoint* point = eventPoint();
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(point->Unadvise(answer.dwEventCookie), S_OK);
    EXPECT_EQ(sink.refs, 1);
    point->Release();
    deactivate();
}

// Sited again after Load (a container that moves the control): page script keeps calling
// it with arguments and results, through the new site.
TEST_F(ControlContainer, SitedAgainAfterLoadKeepsServingThePage) {
    ParamBag params;
    embed(params);
    ScriptHost script;
    ASSERT_TRUE(script.addItem(L"plugin", control));
    EXPECT_EQ(script.eval(L"plugin.get_version()").text(), "1.1");
    const int queriesBefore = page.siteCalls("QueryService");

    ASSERT_EQ(control->SetClientSite(page.site()), S_OK);
    EXPECT_EQ(page.siteCalls("QueryService"), queriesBefore + 1);
    EXPECT_EQ(script.eval(L"plugin.get_version()").text(), "1.1");
    EXPECT_TRUE(script.eval(L"plugin.setAttribute('v', 12), plugin.getAttribute('v') === 12").isTrue());
    EXPECT_TRUE(script.eval(L"plugin.olvIsTokenPresentAndOK()").isTrue());
    deactivate();
}

// This plug-in is windowed on Windows: a page offering windowless activation, and a
// "windowless" param, still get a control with its own window, painted by that window
// (IViewObject draws nothing for it).
TEST_F(ControlContainer, WindowedEvenWhereWindowlessIsOffered) {
    page.setWindowless(true);
    ParamBag params;
    params.add(L"windowless", L"true");
    embed(params);
    EXPECT_EQ(page.siteCalls("CanWindowlessActivate"), 0);
    EXPECT_EQ(page.siteCalls("OnInPlaceActivate"), 1);
    IOleWindow* oleWindow = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&oleWindow)), S_OK);
    HWND window = nullptr;
    EXPECT_EQ(oleWindow->GetWindow(&window), S_OK);
    EXPECT_TRUE(IsWindow(window));
    oleWindow->Release();
    EXPECT_TRUE(vendorLoaded());

    IViewObject* view = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view)), S_OK);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(GetDC(page.window()), 32, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PatBlt(dc, 0, 0, 32, 32, WHITENESS);
    RECTL bounds = {0, 0, 32, 32};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(GetPixel(dc, 16, 16) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    view->Release();

    // A windowless message for a windowed control is not handled.
    IOleInPlaceObjectWindowless* windowlessObject = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObjectWindowless, reinterpret_cast<void**>(&windowlessObject)),
              S_OK);
    LRESULT result = 0;
    EXPECT_EQ(windowlessObject->OnWindowMessage(WM_MOUSEMOVE, 0, MAKELPARAM(20, 20), &result), S_FALSE);
    windowlessObject->Release();
    deactivate();
    EXPECT_FALSE(vendorLoaded());
    page.setWindowless(false);
}

// A container may drop an active control without deactivating it first.
TEST_F(ControlContainer, ReleasedWhileActiveGivesEverythingBack) {
    ParamBag params;
    embed(params);
    ASSERT_TRUE(vendorLoaded());
    HWND window = nullptr;
    IOleWindow* oleWindow = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&oleWindow)), S_OK);
    oleWindow->GetWindow(&window);
    oleWindow->Release();
    EXPECT_EQ(control->Release(), 0u);
    control = nullptr;
    EXPECT_FALSE(vendorLoaded());
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ControlContainer, SiteWithoutServiceProviderIsRefused) {
    create();
    page.setServiceProvider(false);
    EXPECT_EQ(control->SetClientSite(page.site()), E_FAIL);
    page.setServiceProvider(true);
}

// A bag that fails as a whole or for single entries still leaves a working control.
TEST_F(ControlContainer, BrokenPropertyBagsLeaveAWorkingControl) {
    struct Case {
        HRESULT whole;
        bool failOne;
    };
    for (const Case& c : {Case{E_FAIL, false}, Case{E_OUTOFMEMORY, false}, Case{S_OK, true}}) {
        SCOPED_TRACE(c.whole);
        ParamBag params;
        params.add(L"windowless", L"false");
        params.add(L"onload", L"missing");
        params.failWith = c.whole;
        if (c.failOne)
            params.failEntry[L"onload"] = E_UNEXPECTED;
        embed(params);
        ScriptHost script;
        ASSERT_TRUE(script.started());
        ASSERT_TRUE(script.addItem(L"plugin", control));
        EXPECT_EQ(script.eval(L"plugin.get_version()").text(), "1.1");
        control->Close(OLECLOSE_NOSAVE);
        control->SetClientSite(nullptr);
        control->Release();
        control = nullptr;
    }
}

TEST_F(ControlContainer, ConnectionPointAndSafetyOptions) {
    create();
    IConnectionPointContainer* points = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)), S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(points->FindConnectionPoint(DIID_IFBComEventSource, &point), S_OK);
    ASSERT_NE(point, nullptr);
    IConnectionPoint* other = nullptr;
    EXPECT_EQ(points->FindConnectionPoint(IID_IDispatch, &other), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(points->FindConnectionPoint(DIID_IFBComEventSource, nullptr), E_POINTER);
    IID iid = {};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, DIID_IFBComEventSource));
    EXPECT_EQ(point->Unadvise(12345), E_UNEXPECTED);
    EXPECT_EQ(point->EnumConnections(nullptr), E_NOTIMPL);
    // A sink without IDispatch cannot be connected.
    IPropertyBag* notDispatch = nullptr;
    ParamBag empty;
    notDispatch = OleContainer::makeBag(empty);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(notDispatch, &cookie), CONNECT_E_CANNOTCONNECT);
    notDispatch->Release();
    point->Release();
    points->Release();

    IObjectSafety* safety = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
    DWORD supported = 0, enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 1), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistStream, 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistStream, &supported, &enabled), E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    safety->Release();
}

// Page script's whole session on the token through JScript, the same steps as the
// NPAPI host test, so that both adapters answer a page alike.
TEST_F(ControlContainer, ScriptCallsEveryMethod) {
    ParamBag params;
    embed(params);
    ScriptHost script;
    ASSERT_TRUE(script.started());
    ASSERT_TRUE(script.addItem(L"plugin", control));

    const std::string hash = kPageHash;
    CompanionDouble companion = CompanionDouble::install(CompanionKind::Configurable);
    companion.reset();

    EXPECT_EQ(script.eval(L"plugin.version").text(), "1.1");
    for (const PageStep& step : vendorPageSteps()) {
        const std::wstring text = callText(step.method, step.args);
        const ScriptResult got = script.eval(text);
        SCOPED_TRACE(std::string(step.method));
        ASSERT_TRUE(got.ok) << std::string(got.error.begin(), got.error.end());
        if (step.kind == 's') {
            EXPECT_EQ(got.text(), step.text);
        } else if (step.kind == 'd') {
            EXPECT_EQ(got.number(), step.number);
        } else {
            EXPECT_EQ(got.isTrue(), step.number != 0);
        }
    }
    EXPECT_EQ(companion.calls(), kPagePinPrompts);
    EXPECT_EQ(vendorCalls("Sign"), kPageTokenSignatures);

    // The software signature: a fresh nonce each time, 128 upper-case hex characters.
    const std::string key = "KMBNPFRCUEHDJALXKMBNPFRCUEHDJALXKMBNPFRCUEHDJALXKMBNPFRCUEHDJALK";
    const std::string first = script.eval(callText("olvRepair", {key, hash})).text();
    const std::string second = script.eval(callText("olvRepair", {key, hash})).text();
    EXPECT_EQ(first.size(), 128u);
    EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(first, second);
    // Handed to the independent verifier (Botan, outside Wine) by activex_signature_check.
    std::FILE* out = _wfopen((executableFolder() + L"\\activex-signatures.txt").c_str(), L"w");
    ASSERT_NE(out, nullptr);
    for (const std::string& signed_ : {first, second})
        std::fprintf(out, "%s %s %s\n", key.c_str(), hash.c_str(), signed_.c_str());
    std::fclose(out);
    deactivate();
}

// What script sees of the object's members beyond the methods: attributes, functions
// handed in and back, typeof, and framework refusals as exceptions with their messages.
TEST_F(ControlContainer, ScriptSeesPropertiesCallbacksAndErrors) {
    ParamBag params;
    embed(params);
    ScriptHost script;
    ASSERT_TRUE(script.addItem(L"plugin", control));

    // A page function kept by the plug-in comes back as the same function, callable.
    ASSERT_TRUE(script.run(L"var calls = 0; function cb(a, b) { calls++; return a * b; }"));
    EXPECT_TRUE(script.eval(L"plugin.setAttribute('cb', cb), true").isTrue());
    EXPECT_TRUE(script.eval(L"plugin.getAttribute('cb') === cb").isTrue());
    EXPECT_EQ(script.eval(L"plugin.getAttribute('cb')(6, 7)").number(), 42);
    EXPECT_EQ(script.eval(L"calls").number(), 1);
    // Values of each kind round-trip through the plug-in.
    struct RoundTrip {
        const wchar_t* literal;
        const wchar_t* check;
    };
    for (const RoundTrip& r : {RoundTrip{L"'text \\u0416'", L"=== 'text \\u0416'"}, RoundTrip{L"12", L"=== 12"},
                               RoundTrip{L"2.5", L"=== 2.5"}, RoundTrip{L"true", L"=== true"},
                               RoundTrip{L"null", L"=== null"}}) {
        std::wstring set = std::wstring(L"plugin.setAttribute('v', ") + r.literal + L"), plugin.getAttribute('v') " + r.check;
        EXPECT_TRUE(script.eval(set).isTrue()) << std::string(set.begin(), set.end());
    }
    // "version" is read-only: a page's write does not take.
    script.eval(L"plugin.version = '2.0'");
    EXPECT_EQ(script.eval(L"plugin.version").text(), "1.1");
    EXPECT_TRUE(script.eval(L"plugin.valid").isTrue());
    // A method read as a property is its function object, callable on its own.
    EXPECT_EQ(script.eval(L"typeof plugin.olvSign").text(), "object");
    EXPECT_EQ(script.eval(L"var f = plugin.get_version; f()").text(), "1.1");
    EXPECT_EQ(script.eval(L"typeof plugin.olvNoSuchThing").text(), "undefined");

    // A page asks for the token first; that also finds its slot.
    ASSERT_TRUE(script.eval(L"plugin.olvIsTokenPresentAndOK()").isTrue());
    struct Refusal {
        const wchar_t* call;
        const char* message;
    };
    for (const Refusal& r : {Refusal{L"plugin.olvGetPublicKey('a', 'b')", "Too many arguments, expected 1."},
                             Refusal{L"plugin.olvSign('a')", nullptr},
                             Refusal{L"plugin.olvGetContainerName('not a number')", nullptr},
                             Refusal{L"plugin.attachEvent('onx')", nullptr}}) {
        std::wstring caught = std::wstring(L"(function(){ try { ") + r.call +
                              L"; return 'no exception'; } catch (e) { return 'caught:' + e.message; } })()";
        const size_t boxes = OleContainer::messageBoxes().size();
        ScriptResult got = script.eval(caught);
        for (size_t i = boxes; i < OleContainer::messageBoxes().size(); ++i)
            ADD_FAILURE() << "message box: " << OleContainer::messageBoxes()[i];
        ASSERT_TRUE(got.ok);
        const std::string text = got.text();
        EXPECT_EQ(text.compare(0, 7, "caught:"), 0) << text;
        if (r.message) {
            EXPECT_EQ(text, std::string("caught:") + r.message);
        }
    }
    deactivate();
}

// The origin is the container's document address, read through the browser's window: a
// page script's own "location" does not count. A page of a refused origin (denied ahead,
// not https, or not allowed yet: the person is asked, once) gets every token method's
// refusal as a script exception, and the vendor module is never loaded for it. The test's
// box watcher answers the question with its default button.
TEST_F(ControlContainer, RefusedDocumentOriginsMakeNoModuleCall) {
    struct Case {
        const wchar_t* address;
        std::string origin;
        bool asked;
        std::string refusal;  // the first call's message
    };
    const std::vector<Arg> none;
    const std::vector<std::pair<const char*, std::vector<Arg>>> methods = {
        {"olvIsTokenPresentAndOK", none}, {"olvIsUserLoggedIn", none}, {"olvUserLoginDlg", none},
        {"olvLogout", none}, {"olvGetNumberOfContainers", none}, {"olvGetContainerName", {0.0}},
        {"olvGenKeyPair", {"c"}}, {"olvGetPublicKey", {"c"}}, {"olvSign", {"c", kPageHash}},
        {"olvDestroyContainer", {"c"}}, {"olvRepair", {"c", kPageHash}}};
    const std::string notAllowed = " is not allowed to use the token";
    for (const Case& c :
         {Case{L"https://evil.orvanta.test/login?next=1", kDeniedOrigin, false,
               "The page origin " + kDeniedOrigin + notAllowed},
          Case{L"http://bank.orvanta.test/sign.html", "http://bank.orvanta.test", false,
               "The page origin \"http://bank.orvanta.test\" is not a secure origin"},
          Case{L"https://new.orvanta.test:8443/a/b.html", "https://new.orvanta.test:8443", true,
               "The page origin https://new.orvanta.test:8443" + notAllowed}}) {
        SCOPED_TRACE(c.origin);
        auto owned = std::make_unique<ScriptHost>();
        ScriptHost& script = *owned;
        ASSERT_TRUE(script.started());
        // What page script would claim; the browser's window tells otherwise.
        ASSERT_TRUE(script.run(L"var location = { href: 'https://bank.orvanta.test/sign.html' };"));
        IWebBrowser2* browser = script.makeBrowser(c.address);
        ASSERT_NE(browser, nullptr);
        page.servePage(browser);
        browser->Release();
        ParamBag params;
        embed(params);
        ASSERT_TRUE(script.addItem(L"plugin", control));
        EXPECT_FALSE(vendorLoaded());

        const size_t boxesBefore = OleContainer::messageBoxes().size();
        for (const auto& method : methods) {
            const std::wstring caught = L"(function(){ try { " + callText(method.first, method.second) +
                                        L"; return 'no exception'; } catch (e) { return 'caught:' + e.message; } })()";
            const ScriptResult got = script.eval(caught);
            ASSERT_TRUE(got.ok) << method.first;
            const std::string text = got.text();
            EXPECT_EQ(text.compare(0, 7, "caught:"), 0) << method.first << ": " << text;
            EXPECT_NE(text.find(c.origin), std::string::npos) << method.first << ": " << text;
            if (&method == &methods.front()) {
                EXPECT_EQ(text.substr(0, 7 + c.refusal.size()), "caught:" + c.refusal);
                if (c.asked) {
                    // Refused by the box's default answer, No; not a dismissed question.
                    EXPECT_EQ(text, "caught:" + c.refusal);
                }
            }
        }
        EXPECT_FALSE(vendorLoaded());
        const std::vector<std::string> boxes = OleContainer::messageBoxes();
        ASSERT_EQ(boxes.size() - boxesBefore, c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_NE(boxes.back().find(c.origin), std::string::npos) << boxes.back();
            EXPECT_NE(fileText(kOriginsFile).find("deny " + c.origin + "\n"), std::string::npos)
                << fileText(kOriginsFile);
        }
        owned.reset();
        EXPECT_EQ(releaseControl(), 0u);
        page.servePage(nullptr);
    }
}

// A page of an allowed origin, on the container's own page and on a page with script, is
// served from its activation on, without asking.
TEST_F(ControlContainer, AllowedDocumentOriginReachesTheToken) {
    ScriptHost script;
    ASSERT_TRUE(script.started());
    IWebBrowser2* browser = script.makeBrowser(L"https://bank.orvanta.test/other/page.html#top");
    ASSERT_NE(browser, nullptr);
    page.servePage(browser);
    browser->Release();
    ParamBag params;
    embed(params);
    EXPECT_TRUE(vendorLoaded());
    ASSERT_TRUE(script.addItem(L"plugin", control));
    const size_t boxesBefore = OleContainer::messageBoxes().size();
    EXPECT_TRUE(script.eval(L"plugin.olvIsTokenPresentAndOK()").isTrue());
    EXPECT_EQ(script.eval(L"plugin.olvGetNumberOfContainers()").number(), 0);
    EXPECT_EQ(OleContainer::messageBoxes().size(), boxesBefore);
    deactivate();
    page.servePage(nullptr);
}

}  // namespace
}} // namespace orv::test
