#pragma once
// What a status request may learn about the token without touching it: whether the vendor
// module loads and whether a token is in a slot, through the root object's
// "olvIsTokenPresentAndOK" (a slot listing: no session, no login, no PIN prompt). Asked for
// a status, nobody is shown anything: the error boxes the module's failures would raise are
// kept and their text is told instead.
//
// The answer: module "loaded" | "failed" (with "moduleError", the box's text, when there
// was one); token "present" | "absent" | "failed" (with "tokenStatus", the method's
// negative status) when the module loaded.

#include "APITypes.h"

#include <functional>

namespace orv {

FB::VariantMap probeTokenQuietly(const std::function<FB::JSAPIPtr()>& root);

} // namespace orv
