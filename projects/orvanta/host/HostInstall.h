#pragma once
// --install and --uninstall: the host manifest where each browser looks for it (on Windows
// the manifest beside the executable and the registry key that points at it).

#include "HostManifest.h"

#include <ostream>
#include <string>
#include <vector>

namespace orv { namespace host {

enum class Scope { User, System };

struct InstallRequest {
    bool install = true;
    Scope scope = Scope::User;
    std::vector<Browser> browsers{Browser::Chromium, Browser::Chrome, Browser::Edge, Browser::Firefox};
};

// Parses "--install|--uninstall [--browser chromium|chrome|edge|firefox] [--user|--system]";
// false with a message in `error` for anything else.
bool parseInstallArguments(const std::vector<std::string>& arguments, InstallRequest& request,
                           std::string& error);

// Carries the request out for every browser; tells what it did on `out` and what failed on
// `err`. Returns the process's exit status.
int runInstall(const InstallRequest& request, std::ostream& out, std::ostream& err);

// Platform parts (Posix/, Win/).
std::string executablePath();
// A host installed for every user is run by every user's browser and loads the token module
// from its own folder: false, with the reason, unless the program and every folder above it
// can be changed only by the administrator (root; on Windows the Administrators, SYSTEM or
// TrustedInstaller).
bool onlyAdministratorsCanChange(const std::string& programPath, std::string& problem);
// Writes (or removes) this browser's manifest for the scope; `where` tells the place.
bool installManifest(Browser browser, Scope scope, const std::string& manifest, std::string& where,
                     std::string& error);
bool uninstallManifest(Browser browser, Scope scope, std::string& where, std::string& error);
#ifdef _WIN32
// The key under HKCU (User) or HKLM (System) whose default value names this browser's manifest.
std::wstring registryKey(Browser browser);
#else
// The file this browser reads the manifest from; empty when there is no home folder.
std::string manifestPath(Browser browser, Scope scope);
#endif

}} // namespace orv::host
