#include "Doctor.h"

#include "AllowedOrigins.h"
#include "HostInstall.h"
#include "ModuleNames.h"
#include "Posix/Pinentry.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace orv { namespace host {

namespace {

const Browser kBrowsers[] = {Browser::Chromium, Browser::Chrome, Browser::Edge, Browser::Firefox};

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string home() { return env("HOME"); }

std::string configHome() {
    const std::string config = env("XDG_CONFIG_HOME");
    if (!config.empty() && config[0] == '/')
        return config;
    return home().empty() ? std::string() : home() + "/.config";
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

std::string realPath(const std::string& path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    return error ? path : real.string();
}

std::string folderOf(const std::string& path) { return fs::path(path).parent_path().string(); }

// The Chromium-family browser's folder of profiles under the config folder.
std::string userDataFolder(Browser browser) {
    const std::string config = configHome();
    if (config.empty())
        return config;
    switch (browser) {
    case Browser::Chromium:
        return config + "/chromium";
    case Browser::Chrome:
        return config + "/google-chrome";
    case Browser::Edge:
        return config + "/microsoft-edge";
    case Browser::Firefox:
        break;
    }
    return home().empty() ? std::string() : home() + "/.mozilla/firefox";
}

// A browser counts as installed when its program is in one of the places its packages put
// it, or when it has already made its folder of profiles (the manifest folder alone, which
// --install makes for every browser, does not count).
bool browserInstalled(Browser browser, const std::string& root) {
    static const std::vector<std::string> chromium{"/usr/bin/chromium", "/usr/bin/chromium-browser",
                                                   "/snap/bin/chromium"};
    static const std::vector<std::string> chrome{"/usr/bin/google-chrome", "/usr/bin/google-chrome-stable",
                                                 "/opt/google/chrome/chrome"};
    static const std::vector<std::string> edge{"/usr/bin/microsoft-edge", "/usr/bin/microsoft-edge-stable",
                                               "/opt/microsoft/msedge/msedge"};
    static const std::vector<std::string> firefox{"/usr/bin/firefox", "/usr/bin/firefox-esr",
                                                  "/usr/lib/firefox/firefox", "/usr/lib/firefox-esr/firefox-esr",
                                                  "/snap/bin/firefox"};
    const std::vector<std::string>& programs = browser == Browser::Chromium ? chromium
                                               : browser == Browser::Chrome ? chrome
                                               : browser == Browser::Edge   ? edge
                                                                            : firefox;
    for (const std::string& program : programs)
        if (exists(root + program))
            return true;
    const std::string profiles = userDataFolder(browser);
    return !profiles.empty() &&
           exists(profiles + (browser == Browser::Firefox ? "/profiles.ini" : "/Local State"));
}

std::string installCommand(const std::string& host, Browser browser, Scope scope) {
    return (scope == Scope::System ? "sudo " : "") + host + " --install --browser " + browserName(browser) +
           (scope == Scope::System ? " --system" : "");
}

// The programs the browsers' sound manifests name: each loads the vendor module beside it.
using NamedHosts = std::vector<std::pair<Browser, std::string>>;

void checkManifests(Browser browser, const DoctorPlaces& places, const std::string& host, NamedHosts& named,
                    std::vector<Check>& checks) {
    const std::string name = browserName(browser);
    bool anyPresent = false;
    for (Scope scope : {Scope::User, Scope::System}) {
        const std::string path = manifestPath(browser, scope);
        if (path.empty())
            continue;
        const std::string where = scope == Scope::System ? places.systemRoot + path : path;
        const std::string id = "manifest." + name + (scope == Scope::System ? ".system" : ".user");
        std::string text;
        std::string error;
        if (!readTextFile(where, text, error)) {
            if (!error.empty()) {
                anyPresent = true;
                checks.push_back({id, CheckStatus::Fail, "cannot read " + where + ": " + error,
                                  installCommand(host, browser, scope)});
            }
            continue;
        }
        anyPresent = true;
        std::string program;
        checks.push_back(checkManifestText(browser, id, where, text, installCommand(host, browser, scope), &program));
        if (!program.empty())
            named.emplace_back(browser, program);
    }
    if (!anyPresent) {
        checks.push_back({"manifest." + name, CheckStatus::Fail,
                          "the host is not installed for " + name + ": no manifest in " +
                              folderOf(manifestPath(browser, Scope::User)) + " or " + places.systemRoot +
                              folderOf(manifestPath(browser, Scope::System)),
                          installCommand(host, browser, Scope::User)});
    }
}

std::vector<std::string> splitPath(const std::string& list) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = list.find(':', start);
        const std::string part = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!part.empty())
            parts.push_back(part);
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return parts;
}

// The plug-in in the folders NPAPI browsers read; returns the plug-ins' real files.
std::vector<std::string> checkNpapiPlugin(const DoctorPlaces& places, const std::string& host, std::vector<Check>& checks) {
    std::vector<std::string> folders;
    if (!home().empty())
        folders.push_back(home() + "/.mozilla/plugins");
    folders.push_back(places.systemRoot + "/usr/lib/mozilla/plugins");
    for (const char* variable : {"MOZ_PLUGIN_PATH", "QTWEBKIT_PLUGIN_PATH"})
        for (const std::string& folder : splitPath(env(variable)))
            folders.push_back(folder);
    const std::string file = moduleFileName("nporvanta");
    std::vector<std::string> found;
    std::set<std::string> seen;
    bool broken = false;
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + file;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !seen.insert(path).second)
            continue;
        if (!exists(path)) {
            broken = true;
            checks.push_back({"npapi", CheckStatus::Fail, path + " is a link to a file that is not there",
                              "rm " + path + " (or link it to the installed " + file + ")"});
            continue;
        }
        found.push_back(realPath(path));
        checks.push_back({"npapi", CheckStatus::Ok, "NPAPI browsers find the plug-in at " + path +
                                                         (found.back() != path ? " (" + found.back() + ")" : ""), ""});
    }
    if (found.empty() && !broken) {
        const std::string beside = folderOf(realPath(host)) + "/" + file;
        const std::string source = exists(beside) ? beside : "/usr/lib/orvanta/" + file;
        checks.push_back({"npapi", CheckStatus::Warn,
                          "the NPAPI plug-in is in none of the folders NPAPI browsers read (~/.mozilla/plugins, "
                          "/usr/lib/mozilla/plugins, MOZ_PLUGIN_PATH, QTWEBKIT_PLUGIN_PATH); only browsers with the "
                          "extension can reach the token",
                          "mkdir -p ~/.mozilla/plugins && ln -s " + source + " ~/.mozilla/plugins/"});
    }
    return found;
}

bool searchPath(const std::string& name, std::string& found) {
    for (const std::string& folder : splitPath(env("PATH"))) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            found = candidate;
            return true;
        }
    }
    return false;
}

void checkPinentry(std::vector<Check>& checks) {
    const std::string named = PinentryConversation::program();
    const bool fromVariable = !env("ORVANTA_PINENTRY").empty();
    std::string path = named;
    if (named.find('/') == std::string::npos ? !searchPath(named, path) : access(named.c_str(), X_OK) != 0) {
        checks.push_back({"pinentry", CheckStatus::Fail,
                          fromVariable ? "ORVANTA_PINENTRY names " + named + ", which cannot be run"
                                       : "no PIN and consent prompt program: \"" + named + "\" is not on PATH",
                          fromVariable ? "point ORVANTA_PINENTRY at a pinentry program, or unset it"
                                       : "sudo apt install pinentry-gnome3 (or pinentry-qt)"});
        return;
    }
    PinentryConversation conversation;
    if (!conversation.start()) {
        checks.push_back({"pinentry", CheckStatus::Fail, path + " does not start or does not answer as a pinentry",
                          "sudo apt install --reinstall pinentry-gnome3 (or point ORVANTA_PINENTRY at a working pinentry)"});
        return;
    }
    char flavor[64] = {};
    std::size_t length = 0;
    conversation.command("GETINFO", "flavor", flavor, sizeof flavor - 1, &length);
    conversation.command("BYE");
    // "pinentry" is mostly a link to the one chosen (Debian's alternatives): both names count.
    const std::string kind = std::string(flavor, length) + " " + fs::path(path).filename().string() + " " +
                             fs::path(realPath(path)).filename().string();
    // The browser starts the host without a terminal: a terminal pinentry has nowhere to ask.
    if (kind.find("curses") != std::string::npos || kind.find("tty") != std::string::npos) {
        checks.push_back({"pinentry", CheckStatus::Fail,
                          path + " (" + realPath(path) + ") asks on a terminal, which a browser does not have",
                          "sudo apt install pinentry-gnome3 && sudo update-alternatives --config pinentry (choose a "
                          "graphical one)"});
        return;
    }
    if (env("DISPLAY").empty() && env("WAYLAND_DISPLAY").empty()) {
        checks.push_back({"pinentry", CheckStatus::Fail,
                          path + " needs a desktop, and this session has none (DISPLAY and WAYLAND_DISPLAY are unset)",
                          "run orvanta-host --doctor in a terminal of the desktop session the browser runs in"});
        return;
    }
    checks.push_back({"pinentry", CheckStatus::Ok, path + " can show the PIN and consent prompts", ""});
}

std::string namedOr(const char* variable, std::string otherwise) {
    const std::string named = env(variable);
    return named.empty() ? otherwise : named;
}

} // namespace

void* openVendorModule(const std::string& path, std::string& error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        error = reason ? reason : "unknown error";
    }
    return module;
}

void* vendorModuleSymbol(void* module, const char* name) { return dlsym(module, name); }

std::intptr_t setStandardOutputAside() {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    if (saved >= 0)
        dup2(STDERR_FILENO, STDOUT_FILENO);
    return saved;
}

void restoreStandardOutput(std::intptr_t saved) {
    std::fflush(stdout);
    if (saved < 0)
        return;
    dup2(static_cast<int>(saved), STDOUT_FILENO);
    close(static_cast<int>(saved));
}

std::string whyNotRunnable(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "does not exist" : std::string("cannot be examined: ") + std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "is not a file";
    if (access(path.c_str(), X_OK) != 0)
        return "cannot be run (not executable)";
    return std::string();
}

void platformChecks(const DoctorPlaces& places, std::vector<Check>& checks) {
    const std::string host = places.hostProgram.empty() ? executablePath() : places.hostProgram;

    std::vector<Browser> installed;
    for (Browser browser : kBrowsers)
        if (browserInstalled(browser, places.systemRoot))
            installed.push_back(browser);
    if (installed.empty())
        checks.push_back({"browsers", CheckStatus::Warn, "no Chromium, Chrome, Edge or Firefox found on this machine",
                          "install one of them, then run " + host + " --install"});
    NamedHosts named;
    for (Browser browser : installed)
        checkManifests(browser, places, host, named, checks);
    for (Browser browser : installed)
        checkBrowserProfiles(browser, userDataFolder(browser), checks);

    const std::vector<std::string> plugins = checkNpapiPlugin(places, host, checks);

    // The host and each plug-in look for the vendor module in the folder that really holds
    // their own file.
    const std::string module = moduleFileName("olpkcs11xsg");
    const std::string hostModule = folderOf(realPath(host)) + "/" + module;
    checkVendorModule(hostModule, "orvanta-host (" + realPath(host) + ")", "host", checks);
    std::set<std::string> done{realPath(hostModule)};
    // A manifest may name another copy of the host than this one: the browser runs that.
    for (const auto& [browser, program] : named) {
        const std::string otherModule = folderOf(realPath(program)) + "/" + module;
        if (done.insert(realPath(otherModule)).second)
            checkVendorModule(otherModule,
                              "orvanta-host (" + realPath(program) + ", named by " + browserName(browser) + "'s manifest)",
                              std::string("host.") + browserName(browser), checks);
    }
    int n = 0;
    for (const std::string& plugin : plugins) {
        const std::string pluginModule = folderOf(plugin) + "/" + module;
        if (!done.insert(realPath(pluginModule)).second)
            continue;
        checkVendorModule(pluginModule, "the NPAPI plug-in " + plugin, "plugin" + (n++ ? std::to_string(n) : ""), checks);
    }

    checkPinentry(checks);

    checkOriginFiles(namedOr("ORVANTA_ALLOWED_ORIGINS", FB::Consent::defaultAllowedOriginsPath()),
                     namedOr("ORVANTA_MACHINE_ALLOWED_ORIGINS", places.systemRoot + FB::Consent::machineAllowedOriginsPath()),
                     checks);
}

}} // namespace orv::host
