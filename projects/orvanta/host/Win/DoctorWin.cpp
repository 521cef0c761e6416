#include "Doctor.h"

#include "AllowedOrigins.h"
#include "HostInstall.h"
#include "ModuleNames.h"
#include "utf8_tools.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace orv { namespace host {

namespace {

const Browser kBrowsers[] = {Browser::Chromium, Browser::Chrome, Browser::Edge, Browser::Firefox};

// The control's class id and the plug-in's MozillaPlugins key, as the registration scripts
// (nporvanta/Win/FBControl.rgs, src/ActiveXCore) write them.
const wchar_t kControlClsid[] = L"{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}";
const wchar_t kMozillaPluginKey[] = L"Software\\MozillaPlugins\\kelmo.ru/orvanta";

std::string env(const wchar_t* name) {
    wchar_t value[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::string();
    return FB::wstring_to_utf8(std::wstring(value, length));
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return !path.empty() && fs::exists(fs::u8path(path), ignored);
}

std::string folderOf(const std::string& path) { return fs::u8path(path).parent_path().u8string(); }

// One spelling per file for telling whether a module was checked already (Windows paths
// ignore case).
std::string pathKey(const std::string& path) {
    std::wstring key = fs::u8path(path).lexically_normal().wstring();
    CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
    return FB::wstring_to_utf8(key);
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// One place a key is read from: the hive and the registry view.
struct Hive {
    HKEY root;
    REGSAM view;
    const char* name;  // for messages and fixes
    Scope scope;
};

// HKCU\Software is one key for 32- and 64-bit programs; HKLM\Software has a view of each
// (Chrome and Firefox read both).
const Hive kManifestHives[] = {
    {HKEY_CURRENT_USER, KEY_WOW64_64KEY, "HKCU", Scope::User},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM (64-bit view)", Scope::System},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKLM (32-bit view)", Scope::System},
};

// The default value (or `value`) of a key as UTF-8; false when the key or value is not there.
bool readString(HKEY root, REGSAM view, const std::wstring& key, const wchar_t* value, std::string& text) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExW(handle, value, nullptr, &type, nullptr, &size);
    std::wstring data;
    if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        data.resize(size / sizeof(wchar_t) + 1);
        result = RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size / sizeof(wchar_t));
        while (!data.empty() && data.back() == L'\0')
            data.pop_back();
    } else if (result == ERROR_SUCCESS) {
        result = ERROR_INVALID_DATA;
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS)
        return false;
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 4];
        const DWORD length = ExpandEnvironmentStringsW(data.c_str(), expanded, MAX_PATH * 4);
        if (length > 0 && length <= MAX_PATH * 4)
            data = expanded;
    }
    text = FB::wstring_to_utf8(data);
    return true;
}

bool keyExists(HKEY root, REGSAM view, const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::string chromiumUserData(Browser browser) {
    const std::string local = env(L"LOCALAPPDATA");
    if (local.empty())
        return local;
    switch (browser) {
    case Browser::Chromium:
        return local + "\\Chromium\\User Data";
    case Browser::Chrome:
        return local + "\\Google\\Chrome\\User Data";
    case Browser::Edge:
        return local + "\\Microsoft\\Edge\\User Data";
    case Browser::Firefox:
        break;
    }
    const std::string roaming = env(L"APPDATA");
    return roaming.empty() ? roaming : roaming + "\\Mozilla\\Firefox\\Profiles";
}

// Installed: the program registered under App Paths, or the browser's own folder of
// profiles already made.
bool browserInstalled(Browser browser) {
    const wchar_t* program = browser == Browser::Edge      ? L"msedge.exe"
                             : browser == Browser::Firefox ? L"firefox.exe"
                             : browser == Browser::Chrome  ? L"chrome.exe"
                                                           : nullptr;
    if (program) {
        const std::wstring key = std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + program;
        for (const Hive& hive : kManifestHives)
            if (keyExists(hive.root, hive.view, key))
                return true;
    }
    const std::string profiles = chromiumUserData(browser);
    return exists(browser == Browser::Firefox ? folderOf(profiles) + "\\profiles.ini" : profiles + "\\Local State");
}

std::string installCommand(const std::string& host, Browser browser, Scope scope) {
    return quoted(host) + " --install --browser " + browserName(browser) +
           (scope == Scope::System ? " --system (from an administrator's command prompt)" : "");
}

// The programs the browsers' sound manifests name: each loads the vendor module beside it.
using NamedHosts = std::vector<std::pair<Browser, std::string>>;

void checkManifests(Browser browser, const std::string& host, NamedHosts& named, std::vector<Check>& checks) {
    const std::string name = browserName(browser);
    const std::wstring key = registryKey(browser);
    bool anyPresent = false;
    for (const Hive& hive : kManifestHives) {
        std::string manifest;
        if (!readString(hive.root, hive.view, key, nullptr, manifest))
            continue;
        anyPresent = true;
        const std::string id = std::string("manifest.") + name + (hive.scope == Scope::System ? (hive.view == KEY_WOW64_32KEY ? ".system32" : ".system") : ".user");
        const std::string where = std::string(hive.name) + "\\" + FB::wstring_to_utf8(key);
        std::string text;
        std::string error;
        if (!readTextFile(manifest, text, error)) {
            checks.push_back({id, CheckStatus::Fail,
                              where + " names the manifest " + manifest + ", which " +
                                  (error.empty() ? std::string("does not exist") : "cannot be read: " + error),
                              installCommand(host, browser, hive.scope)});
            continue;
        }
        std::string program;
        checks.push_back(
            checkManifestText(browser, id, manifest, text, installCommand(host, browser, hive.scope), &program));
        if (!program.empty())
            named.emplace_back(browser, program);
    }
    if (!anyPresent)
        checks.push_back({"manifest." + name, CheckStatus::Fail,
                          "the host is not installed for " + name + ": no key HKCU\\" + FB::wstring_to_utf8(key) +
                              " or HKLM\\" + FB::wstring_to_utf8(key),
                          installCommand(host, browser, Scope::User)});
}

// The 32- or 64-bit build a DLL is for: 32, 64, or 0 when it cannot be told.
int peBits(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    char dos[64] = {};
    if (!in.read(dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    const unsigned long offset = static_cast<unsigned char>(dos[60]) | static_cast<unsigned char>(dos[61]) << 8 |
                                 static_cast<unsigned char>(dos[62]) << 16 |
                                 static_cast<unsigned long>(static_cast<unsigned char>(dos[63])) << 24;
    char header[6] = {};
    if (!in.seekg(offset) || !in.read(header, sizeof header) || header[0] != 'P' || header[1] != 'E')
        return 0;
    const unsigned machine = static_cast<unsigned char>(header[4]) | static_cast<unsigned char>(header[5]) << 8;
    return machine == 0x8664 ? 64 : machine == 0x14c ? 32 : 0;
}

constexpr int kOwnBits = sizeof(void*) * 8;

// A registered plug-in DLL: the file is there, and the vendor module of its bitness beside
// it. Only a module this program's bitness can load is loaded.
void checkRegisteredPlugin(const std::string& id, const std::string& where, const std::string& dll,
                           std::set<std::string>& modulesDone, std::vector<Check>& checks) {
    if (!exists(dll)) {
        checks.push_back({id, CheckStatus::Fail, where + " names " + dll + ", which does not exist",
                          "reinstall orvanta (or regsvr32 /u, then regsvr32, the nporvanta.dll you use)"});
        return;
    }
    const int bits = peBits(dll);
    checks.push_back({id, CheckStatus::Ok, where + ": " + dll + (bits ? " (" + std::to_string(bits) + "-bit)" : ""), ""});
    const std::string module = folderOf(dll) + "\\" + moduleFileName("olpkcs11xsg");
    if (!modulesDone.insert(pathKey(module)).second)
        return;
    if (bits != 0 && bits != kOwnBits) {
        if (!exists(module))
            checks.push_back({"module." + id, CheckStatus::Fail,
                              "the token vendor's module is missing: the plug-in " + dll + " looks for it at " + module,
                              "put the vendor's " + std::to_string(bits) + "-bit olpkcs11xsg.dll at " + module});
        else
            checks.push_back({"module." + id, CheckStatus::Ok,
                              module + " is there (" + std::to_string(bits) +
                                  "-bit: only that plug-in loads it; this doctor is " + std::to_string(kOwnBits) + "-bit)",
                              ""});
        return;
    }
    checkVendorModule(module, "the plug-in " + dll, id, checks);
}

void checkPlugins(const std::string& host, std::set<std::string>& modulesDone, std::vector<Check>& checks) {
    // ActiveX: the class as Internet Explorer finds it (HKCR: the user's classes over the
    // machine's), in the 64- and the 32-bit view.
    const std::wstring server = std::wstring(L"CLSID\\") + kControlClsid + L"\\InprocServer32";
    bool anyControl = false;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        std::string dll;
        if (!readString(HKEY_CLASSES_ROOT, view, server, nullptr, dll))
            continue;
        anyControl = true;
        checkRegisteredPlugin(view == KEY_WOW64_64KEY ? "activex" : "activex32",
                              std::string("HKCR\\") + FB::wstring_to_utf8(server) +
                                  (view == KEY_WOW64_64KEY ? " (64-bit view)" : " (32-bit view)"),
                              dll, modulesDone, checks);
    }
    if (!anyControl)
        checks.push_back({"activex", CheckStatus::Warn,
                          "the ActiveX control is not registered: Internet Explorer mode cannot reach the token",
                          "regsvr32 /n /i:user \"" + folderOf(host) + "\\nporvanta.dll\" (or reinstall orvanta)"});
    // NPAPI: the MozillaPlugins key the registration writes.
    bool anyPlugin = false;
    for (const Hive& hive : kManifestHives) {
        std::string dll;
        if (!readString(hive.root, hive.view, kMozillaPluginKey, L"Path", dll))
            continue;
        anyPlugin = true;
        checkRegisteredPlugin(hive.scope == Scope::User ? "npapi" : hive.view == KEY_WOW64_32KEY ? "npapi.system32" : "npapi.system",
                              std::string(hive.name) + "\\" + FB::wstring_to_utf8(kMozillaPluginKey), dll, modulesDone,
                              checks);
    }
    if (!anyPlugin)
        checks.push_back({"npapi", CheckStatus::Warn,
                          "the NPAPI plug-in is not registered (no MozillaPlugins key): only browsers with the "
                          "extension can reach the token",
                          "regsvr32 /n /i:user \"" + folderOf(host) + "\\nporvanta.dll\" (or reinstall orvanta)"});
}

// The PIN dialog and the consent box are this program's own windows: they need a desktop
// the person sees.
void checkPromptDesktop(std::vector<Check>& checks) {
    USEROBJECTFLAGS flags{};
    HWINSTA station = GetProcessWindowStation();
    if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE)) {
        checks.push_back({"prompt", CheckStatus::Fail,
                          "this session has no visible desktop (a service or a remote task): the PIN and consent "
                          "windows cannot be shown",
                          "run orvanta-host --doctor in the desktop session the browser runs in"});
        return;
    }
    checks.push_back({"prompt", CheckStatus::Ok, "the PIN and consent windows can be shown on this desktop", ""});
}

HANDLE& savedOutputHandle() {
    static HANDLE handle = nullptr;
    return handle;
}

std::string namedOr(const wchar_t* variable, std::string otherwise) {
    const std::string named = env(variable);
    return named.empty() ? otherwise : named;
}

} // namespace

void* openVendorModule(const std::string& path, std::string& error) {
    // The module's own folder first for what it needs, as the plug-in loads it.
    HMODULE module = LoadLibraryExW(fs::u8path(path).wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        const DWORD code = GetLastError();
        wchar_t* text = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        error = text ? FB::wstring_to_utf8(text) : "error " + std::to_string(code);
        if (text)
            LocalFree(text);
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r'))
            error.pop_back();
    }
    return module;
}

void* vendorModuleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

std::intptr_t setStandardOutputAside() {
    std::fflush(stdout);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    const int saved = _dup(1);
    if (saved >= 0)
        _dup2(2, 1);
    // Both the handle and the descriptor: a module may write through either.
    savedOutputHandle() = output;
    return saved;
}

void restoreStandardOutput(std::intptr_t saved) {
    std::fflush(stdout);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOutputHandle());
    if (saved < 0)
        return;
    _dup2(static_cast<int>(saved), 1);
    _close(static_cast<int>(saved));
}

std::string whyNotRunnable(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(fs::u8path(path), error);
    if (error || !fs::exists(status))
        return "does not exist";
    if (!fs::is_regular_file(status))
        return "is not a file";
    return std::string();
}

void platformChecks(const DoctorPlaces& places, std::vector<Check>& checks) {
    const std::string host = places.hostProgram.empty() ? executablePath() : places.hostProgram;

    std::vector<Browser> checked;
    for (Browser browser : kBrowsers) {
        bool registered = false;
        for (const Hive& hive : kManifestHives)
            registered = registered || keyExists(hive.root, hive.view, registryKey(browser));
        if (registered || browserInstalled(browser))
            checked.push_back(browser);
    }
    if (checked.empty())
        checks.push_back({"browsers", CheckStatus::Warn, "no Chromium, Chrome, Edge or Firefox found for this user",
                          "install one of them, then run " + quoted(host) + " --install"});
    NamedHosts named;
    for (Browser browser : checked)
        checkManifests(browser, host, named, checks);
    for (Browser browser : checked)
        if (browserInstalled(browser))
            checkBrowserProfiles(browser, chromiumUserData(browser), checks);

    std::set<std::string> modulesDone;
    const std::string hostModule = folderOf(host) + "\\" + moduleFileName("olpkcs11xsg");
    modulesDone.insert(pathKey(hostModule));
    checkVendorModule(hostModule, "orvanta-host (" + host + ")", "host", checks);
    // A manifest may name another copy of the host than this one: the browser runs that.
    for (const auto& [browser, program] : named) {
        const std::string otherModule = folderOf(program) + "\\" + moduleFileName("olpkcs11xsg");
        if (!modulesDone.insert(pathKey(otherModule)).second)
            continue;
        checkVendorModule(otherModule,
                          "orvanta-host (" + program + ", named by " + browserName(browser) + "'s manifest)",
                          std::string("host.") + browserName(browser), checks);
    }

    checkPlugins(host, modulesDone, checks);
    checkPromptDesktop(checks);

    checkOriginFiles(namedOr(L"ORVANTA_ALLOWED_ORIGINS", FB::Consent::defaultAllowedOriginsPath()),
                     namedOr(L"ORVANTA_MACHINE_ALLOWED_ORIGINS", FB::Consent::machineAllowedOriginsPath()), checks);
}

}} // namespace orv::host
