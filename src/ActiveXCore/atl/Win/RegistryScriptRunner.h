#pragma once
// Applies a read registry script to the registry, forwards or backwards, the way COM
// servers register themselves. Registration writes HKCR keys to the current user's
// classes key instead when asked to register per user.

#include <windows.h>

#include "RegistryScript.h"

namespace FB {
namespace Atl {

HRESULT applyRegistryScript(const RegScript& script, bool install, bool perUserClasses);

// Loads resource `id` of type "REGISTRY" from `module` and applies it with the variables.
HRESULT runRegistryResource(HMODULE module, UINT id, bool install, const RegVariables& variables,
                            bool perUserClasses);

} // namespace Atl
} // namespace FB
