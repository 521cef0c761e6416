#pragma once
// The container side of one ActiveX control, as Internet Explorer drives it: a top-level
// window, a client site that is also the in-place site (windowless on request) and offers
// IServiceProvider (the browser of a page at the document's address), and a property bag of the object element's <param>s. Every call the
// control makes on the site is counted by name.

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include <exdisp.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orv { namespace test {

class ContainerSite;

// The <param>s of an object element, served through IPropertyBag and IPropertyBag2.
// `failWith` makes the bag answer that error from every call (a broken bag).
struct ParamBag {
    std::vector<std::pair<std::wstring, VARIANT>> params;
    HRESULT failWith = S_OK;
    // Failing results for single entries only (the Read call itself succeeds).
    std::map<std::wstring, HRESULT> failEntry;
    ParamBag() = default;
    ParamBag(const ParamBag&) = delete;
    ParamBag& operator=(const ParamBag&) = delete;
    ~ParamBag();
    void add(const std::wstring& name, const std::wstring& text);
    void add(const std::wstring& name, const VARIANT& value);
};

class OleContainer {
public:
    OleContainer();
    ~OleContainer();
    OleContainer(const OleContainer&) = delete;
    OleContainer& operator=(const OleContainer&) = delete;

    HWND window() const { return m_window; }
    // The site's IUnknown; the container keeps its own reference.
    IOleClientSite* site() const;
    int siteCalls(const std::string& name) const;
    // A site that answers IServiceProvider (true) or not.
    void setServiceProvider(bool offered);
    // The browser the site's IServiceProvider answers for SID_SWebBrowserApp (the container
    // keeps a reference); null: the container's own page, without script, at the document's
    // address.
    void servePage(IWebBrowser2* browser);
    // The address of the container's own page (kPageAddress unless changed); its window's
    // location answers it.
    void setDocumentAddress(const std::wstring& address);
    // A site that lets the control draw on the page's surface without a window of its own.
    void setWindowless(bool offered);

    // A new bag (one reference, the caller's) over the entries of `bag`.
    static IPropertyBag* makeBag(ParamBag& bag);

    // Pumps the thread's messages for `ms` milliseconds.
    static void pump(DWORD ms);
    // Every message box shown on this thread while a container lived ("caption: text");
    // each was answered at once with the button that has the keyboard focus (a box's
    // default), as Enter would, so a box never blocks a test.
    static std::vector<std::string> messageBoxes();

private:
    HWND m_window = nullptr;
    HHOOK m_boxHook = nullptr;
    ContainerSite* m_site = nullptr;
};

}} // namespace orv::test
