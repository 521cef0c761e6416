#pragma once
// PLACEHOLDER, not the control: the class factory hands out this bare COM object until
// CFBControl (the ActiveX control with its IDispatchEx bridge) is written. It answers
// IUnknown only and keeps the module locked while it lives, so the server's life cycle
// (lock count, DllCanUnloadNow) can be exercised now.

#include <windows.h>
#include <unknwn.h>

namespace FB {
namespace ActiveX {

// The creator of the object-map entry: refuses aggregation.
HRESULT createPlaceholderControl(IUnknown* outer, REFIID iid, void** out);

} // namespace ActiveX
} // namespace FB
