// The control as a page finds it after the installer ran: by ProgID through the machine's
// classes, from the DLL the installer put in place, sited in the test container and
// activated, its methods called by page script. Prints one line a step and exits non-zero
// at the first step that fails.
//
//   installed_control_probe.exe EXPECTED-DLL-PATH
//
// The person's allowed origins come from ORVANTA_ALLOWED_ORIGINS (the caller's file).

#include "OleContainer.h"
#include "ScriptHost.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <string>

using orv::test::OleContainer;
using orv::test::ParamBag;
using orv::test::ScriptHost;

namespace {

const CLSID CLSID_FBControl0 = {0x7c3b5e21, 0x9a4d, 0x4f6e, {0xb8, 0x12, 0x3d, 0x5a, 0x0c, 0x94, 0xe1, 0xf7}};

int failed(const char* step, HRESULT hr = S_OK) {
    std::printf("FAIL %s (0x%08lx)\n", step, static_cast<unsigned long>(hr));
    return 1;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

int probe(const std::wstring& expected) {
    CLSID clsid = {};
    HRESULT hr = CLSIDFromProgID(L"Kelmo.orvanta", &clsid);
    if (FAILED(hr) || !IsEqualCLSID(clsid, CLSID_FBControl0))
        return failed("ProgID Kelmo.orvanta names the control's class", hr);
    std::printf("ok ProgID Kelmo.orvanta names the control's class\n");

    IOleObject* control = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, reinterpret_cast<void**>(&control));
    if (FAILED(hr) || !control)
        return failed("the control is created", hr);
    std::printf("ok the control is created\n");
    if (!GetModuleHandleW(expected.c_str()))
        return failed("the control's DLL is the installed one");
    std::printf("ok the control's DLL is %s\n", narrow(expected).c_str());

    int status = 0;
    {
        OleContainer page;
        hr = control->SetClientSite(page.site());
        IPersistPropertyBag* persist = nullptr;
        if (SUCCEEDED(hr))
            hr = control->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist));
        if (SUCCEEDED(hr)) {
            ParamBag params;
            IPropertyBag* bag = OleContainer::makeBag(params);
            hr = persist->Load(bag, nullptr);
            bag->Release();
            persist->Release();
        }
        RECT pos = {10, 10, 310, 110};
        if (SUCCEEDED(hr))
            hr = control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, page.site(), 0, page.window(), &pos);
        if (FAILED(hr)) {
            status = failed("the control is sited, loaded and activated in place", hr);
        } else {
            std::printf("ok the control is sited, loaded and activated in place\n");
            ScriptHost script;
            if (!script.started() || !script.addItem(L"plugin", control)) {
                status = failed("page script sees the control");
            } else {
                const std::string version = script.eval(L"plugin.get_version() + '|' + plugin.version").text();
                if (version != "1.1|1.1")
                    status = failed(("page script calls get_version() and reads version: '" + version + "'").c_str());
                else
                    std::printf("ok page script calls get_version() and reads version: %s\n", version.c_str());
            }
        }
        IOleInPlaceObject* inPlace = nullptr;
        if (SUCCEEDED(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
            inPlace->InPlaceDeactivate();
            inPlace->Release();
        }
        control->Close(OLECLOSE_NOSAVE);
        control->SetClientSite(nullptr);
        control->Release();
    }
    return status;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: installed_control_probe EXPECTED-DLL-PATH\n");
        return 2;
    }
    OleInitialize(nullptr);
    const int status = probe(argv[1]);
    CoFreeUnusedLibraries();
    OleUninitialize();
    return status;
}
