#pragma once
// One creatable class of the server: its class id, how it registers, how its objects are
// made, and its class factory once the first request created it.

#include <windows.h>
#include <unknwn.h>

#include "ClassFactory.h"

namespace FB {
namespace Atl {

struct ObjectMapEntry {
    const CLSID* clsid;
    HRESULT (*updateRegistry)(bool install);
    ObjectCreator creator;
    IUnknown* cachedFactory;  // null until first requested; kept for the module's life
};

} // namespace Atl
} // namespace FB
