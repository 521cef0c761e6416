#pragma once
// The origin of the page a plug-in instance lives in, in the form browsers serialise origins
// ("https://host", "http://127.0.0.1:8080"), worked out from the document's address as the
// browser reports it. Pages never get to name it.

#include <string>

namespace FB { namespace Consent {

// scheme://host[:port] for http and https addresses (scheme and host lower-cased, user
// information dropped, the scheme's default port left out); "file://" for local files;
// "null" for everything else (about:, data:, blob:, javascript:, text that is no address),
// which no consent rule lets through.
std::string originFromUrl(const std::string& url);

}} // namespace FB::Consent
