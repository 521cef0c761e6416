#pragma once
// The class factory an object-map entry hands out: creates objects through the entry's
// creator and locks the module for LockServer, and for as long as a client holds it.

#include <windows.h>
#include <unknwn.h>

#include "AtlModule.h"

namespace FB {
namespace Atl {

using ObjectCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

class ClassFactory : public IClassFactory {
public:
    ClassFactory(AtlModule& module, ObjectCreator creator) : m_module(module), m_creator(creator) {}
    virtual ~ClassFactory() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // The factory creator of an object-map entry.
    static HRESULT create(AtlModule& module, ObjectCreator creator, REFIID iid, void** out);

private:
    volatile LONG m_refs = 1;
    AtlModule& m_module;
    ObjectCreator m_creator;
};

} // namespace Atl
} // namespace FB
