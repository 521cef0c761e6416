#pragma once
// The standard behaviour of an OLE control behind the interfaces a container drives:
// embedding (IOleObject), in-place activation with or without a window, the view,
// property-bag persistence, quick activation and the site. A control derives from it,
// supplies IUnknown and overrides the hooks where it ties itself to something.

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

namespace FB {
namespace Atl {

class OleControl : public IOleObject,
                   public IOleInPlaceObjectWindowless,
                   public IOleInPlaceActiveObject,
                   public IViewObjectEx,
                   public IOleControl,
                   public IQuickActivate,
                   public IObjectWithSite,
                   public IPersistPropertyBag,
                   public IProvideClassInfo2 {
public:
    // clsid: the class the control reports; miscStatus: its OLEMISC bits.
    OleControl(const CLSID& clsid, DWORD miscStatus);
    virtual ~OleControl();
    OleControl(const OleControl&) = delete;
    OleControl& operator=(const OleControl&) = delete;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* activeSite, LONG index, HWND parent,
                                     LPCRECT posRect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;
    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
    // IOleInPlaceObject(Windowless)
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget** target) override;
    // IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;
    // IViewObject, IViewObject2, IViewObjectEx
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                                   HDC targetDc, HDC drawDc, LPCRECTL bounds, LPCRECTL wBounds,
                                   BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArg) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                                          HDC targetDc, LOGPALETTE** colors) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) override;
    HRESULT STDMETHODCALLTYPE GetRect(DWORD aspect, LPRECTL rect) override;
    HRESULT STDMETHODCALLTYPE GetViewStatus(DWORD* status) override;
    HRESULT STDMETHODCALLTYPE QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                                            DWORD* hit) override;
    HRESULT STDMETHODCALLTYPE QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                                           DWORD* hit) override;
    HRESULT STDMETHODCALLTYPE GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, HDC targetDc,
                                               DVEXTENTINFO* info, LPSIZEL size) override;
    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;
    // IQuickActivate
    HRESULT STDMETHODCALLTYPE QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT STDMETHODCALLTYPE SetContentExtent(LPSIZEL size) override;
    HRESULT STDMETHODCALLTYPE GetContentExtent(LPSIZEL size) override;
    // IObjectWithSite
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
    HRESULT STDMETHODCALLTYPE GetSite(REFIID iid, void** site) override;
    // IPersist, IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    // IProvideClassInfo, IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

    HWND controlWindow() const { return m_hWnd; }
    bool isWindowless() const { return m_bWndLess; }
    bool isInPlaceActive() const { return m_bInPlaceActive; }

protected:
    // Standard in-place activation: asks the site, and creates the control window unless
    // the site activated the control windowless.
    virtual HRESULT InPlaceActivate(LONG verb, const RECT* posRect);
    // The control window's messages, and windowless ones from the site; true when handled.
    virtual bool ProcessWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    virtual HRESULT OnDraw(HDC dc, const RECT& bounds);
    // The event interface a container may ask for in GetGUID.
    virtual const IID& sourceInterface() const = 0;

    IOleClientSite* m_spClientSite = nullptr;
    IUnknown* m_spUnkSite = nullptr;
    IOleInPlaceSite* m_spInPlaceSite = nullptr;
    IOleInPlaceSiteWindowless* m_spInPlaceSiteWindowless = nullptr;
    IAdviseSink* m_spViewSink = nullptr;
    HWND m_hWnd = nullptr;
    bool m_bWindowOnly = true;
    bool m_bWndLess = false;
    bool m_bInPlaceActive = false;
    RECT m_rcPos = {0, 0, 0, 0};
    SIZEL m_sizeExtent = {2540, 2540};
    CLSID m_clsid;
    DWORD m_miscStatus;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    HRESULT createControlWindow(HWND parent, const RECT& pos);
};

} // namespace Atl
} // namespace FB
