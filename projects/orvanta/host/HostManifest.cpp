#include "HostManifest.h"

#include <nlohmann/json.hpp>

namespace orv { namespace host {

const char* const kHostName = "pelorima.orvanta";
const char* const kChromiumExtensionId = "edadiocalphgbgnlpfafmgfgcgooomgb";
const char* const kFirefoxExtensionId = "orvanta@pelorima";

const char* browserName(Browser browser) {
    switch (browser) {
    case Browser::Chromium:
        return "chromium";
    case Browser::Chrome:
        return "chrome";
    case Browser::Edge:
        return "edge";
    case Browser::Firefox:
        return "firefox";
    }
    return "";
}

std::string hostManifest(Browser browser, const std::string& hostPath) {
    nlohmann::ordered_json manifest{
        {"name", kHostName},
        {"description", "orvanta: GOST token access for web pages"},
        {"path", hostPath},
        {"type", "stdio"},
    };
    if (browser == Browser::Firefox)
        manifest["allowed_extensions"] = {kFirefoxExtensionId};
    else
        manifest["allowed_origins"] = {std::string("chrome-extension://") + kChromiumExtensionId + "/"};
    return manifest.dump(2) + "\n";
}

}} // namespace orv::host
