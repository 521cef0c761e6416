#pragma once
// The person's consent for the page a plug-in object serves. Every path a page reaches the
// token by shares one rule set and one pair of allowed-origins files (the person's and the
// administrator's): orvanta-host checks each request by the origin the browser names for it,
// and the browser plug-ins (NPAPI and ActiveX) check the origin of the document they are
// embedded in, read from the browser's own window object.

#include "APITypes.h"
#include "OriginGate.h"

#include <string>

namespace orv {

// The process's gate: the person's file (ORVANTA_ALLOWED_ORIGINS, else the user's config
// folder), the administrator's (ORVANTA_MACHINE_ALLOWED_ORIGINS, else the machine-wide file),
// and the person asked through the PIN-entry machinery. Made on first use.
FB::Consent::OriginGate& processOriginGate();

// Whether plug-in objects check their page's origin themselves: on unless turned off. The
// native messaging host turns it off, since its dispatcher checks every request before the
// plug-in object sees it (and there is no document to read an origin from).
void setPluginObjectsCheckOrigin(bool check);
bool pluginObjectsCheckOrigin();

// The origin of the document the host's instance is embedded in, from the browser's window
// object (its location); "null" when the browser does not tell, which no rule lets through.
std::string documentOrigin(const FB::BrowserHostPtr& host);

} // namespace orv
