#pragma once
// IObjectSafety's two calls for an object that answers for every interface it has: the
// interface must be one the object gives out, and only the options it supports change.

#include <windows.h>
#include <objsafe.h>

namespace FB {
namespace Atl {

inline HRESULT getSafetyOptions(IUnknown* self, REFIID iid, DWORD supportedOptions, DWORD current,
                                DWORD* supported, DWORD* enabled) {
    if (!supported || !enabled)
        return E_POINTER;
    IUnknown* probe = nullptr;
    const HRESULT hr = self->QueryInterface(iid, reinterpret_cast<void**>(&probe));
    if (FAILED(hr)) {
        *supported = 0;
        *enabled = 0;
        return hr;
    }
    probe->Release();
    *supported = supportedOptions;
    *enabled = current;
    return S_OK;
}

inline HRESULT setSafetyOptions(IUnknown* self, REFIID iid, DWORD supportedOptions, DWORD mask, DWORD enabled,
                                DWORD& current) {
    IUnknown* probe = nullptr;
    if (FAILED(self->QueryInterface(iid, reinterpret_cast<void**>(&probe))))
        return E_NOINTERFACE;
    probe->Release();
    if (mask & ~supportedOptions)
        return E_FAIL;
    current = (current & ~mask) | (enabled & mask);
    return S_OK;
}

} // namespace Atl
} // namespace FB
