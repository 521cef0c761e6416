#include "PlaceholderControl.h"

#include <new>

#include "PluginWinModule.h"

namespace FB {
namespace ActiveX {

namespace {

class PlaceholderControl : public IUnknown {
public:
    PlaceholderControl() { pluginWinModule().lock(); }
    virtual ~PlaceholderControl() { pluginWinModule().unlock(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

private:
    volatile LONG m_refs = 1;
};

} // namespace

HRESULT createPlaceholderControl(IUnknown* outer, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    PlaceholderControl* object = new (std::nothrow) PlaceholderControl();
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

} // namespace ActiveX
} // namespace FB
