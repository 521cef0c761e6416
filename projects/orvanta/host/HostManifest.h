#pragma once
// What the browsers need to know to start this host: its name, the extension allowed to
// start it, and the manifest file that says so.

#include <string>

namespace orv { namespace host {

// The name the extension asks the browser for (connectNative).
extern const char* const kHostName;
// The extension's id in Chromium and Chrome: fixed by the public key in its manifest.
extern const char* const kChromiumExtensionId;
// The extension's id in Firefox (browser_specific_settings.gecko.id).
extern const char* const kFirefoxExtensionId;

enum class Browser { Chromium, Chrome, Edge, Firefox };

const char* browserName(Browser browser);

// The host manifest for `browser` naming the executable at `hostPath`.
std::string hostManifest(Browser browser, const std::string& hostPath);

}} // namespace orv::host
