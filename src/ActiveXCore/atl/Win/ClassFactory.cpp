#include "ClassFactory.h"

#include <new>

namespace FB {
namespace Atl {

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// The first reference is the object map's cache. Every further one belongs to a client,
// and while any client holds the factory the module must not be unloaded: the second
// reference locks the module and dropping back to the cache's alone unlocks it.
ULONG ClassFactory::AddRef() {
    LONG refs = InterlockedIncrement(&m_refs);
    if (refs == 2)
        m_module.lock();
    return static_cast<ULONG>(refs);
}

ULONG ClassFactory::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 1)
        m_module.unlock();
    else if (refs == 0)
        delete this;
    return static_cast<ULONG>(refs);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return m_creator(outer, iid, out);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock)
        m_module.lock();
    else
        m_module.unlock();
    return S_OK;
}

HRESULT ClassFactory::create(AtlModule& module, ObjectCreator creator, REFIID iid, void** out) {
    ClassFactory* factory = new (std::nothrow) ClassFactory(module, creator);
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

} // namespace Atl
} // namespace FB
