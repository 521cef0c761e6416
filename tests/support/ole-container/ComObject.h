#pragma once
// A small reference-counted base for the test's own COM objects.

#include <windows.h>
#include <unknwn.h>

namespace orv { namespace test {

template <typename Derived>
class ComObject {
public:
    virtual ~ComObject() = default;
    ULONG addRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG release() {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete static_cast<Derived*>(this);
        return static_cast<ULONG>(refs);
    }
    LONG refs() const { return m_refs; }

private:
    volatile LONG m_refs = 1;
};

#define ORV_COM_REFCOUNT                                                       \
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }             \
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

}} // namespace orv::test
