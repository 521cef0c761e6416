#include "HostInstall.h"

#include "utf8_tools.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace orv { namespace host {

std::wstring registryKey(Browser browser) {
    const std::wstring name = FB::utf8_to_wstring(kHostName);
    switch (browser) {
    case Browser::Chromium:
        return L"Software\\Chromium\\NativeMessagingHosts\\" + name;
    case Browser::Chrome:
        return L"Software\\Google\\Chrome\\NativeMessagingHosts\\" + name;
    case Browser::Edge:
        return L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\" + name;
    case Browser::Firefox:
        return L"Software\\Mozilla\\NativeMessagingHosts\\" + name;
    }
    return std::wstring();
}

namespace {

HKEY root(Scope scope) { return scope == Scope::System ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Beside the executable: Chromium-family browsers share one manifest, Firefox has its own.
fs::path manifestPath(Browser browser) {
    const fs::path folder = fs::u8path(executablePath()).parent_path();
    const std::string file = std::string(kHostName) + (browser == Browser::Firefox ? ".firefox.json" : ".json");
    return folder / fs::u8path(file);
}

std::string systemMessage(LONG code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text ? FB::wstring_to_utf8(text) : "error " + std::to_string(code);
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}

// The Administrators, SYSTEM and TrustedInstaller (which owns the Program Files folders).
bool isAdministration(PSID sid) {
    if (!sid || !IsValidSid(sid))
        return false;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid))
        return true;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return false;
    const bool trustedInstaller =
        std::wstring(text) == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    LocalFree(text);
    return trustedInstaller;
}

// Rights that let a holder put a file into a folder, replace the program, or give itself
// those rights.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Empty when only the administration owns and can change `path`; else the reason.
std::string whoElseCanChange(const std::wstring& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                               nullptr, &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS)
        return "cannot examine " + FB::wstring_to_utf8(path) + ": " + systemMessage(static_cast<LONG>(result));
    std::string problem;
    if (!isAdministration(owner))
        problem = FB::wstring_to_utf8(path) + " is not owned by the Administrators";
    else if (!dacl)
        problem = FB::wstring_to_utf8(path) + " has no access list: everybody can change it";
    for (DWORD i = 0; problem.empty() && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kChangeRights) && !isAdministration(sid))
            problem = FB::wstring_to_utf8(path) + " can be changed by users other than the Administrators";
    }
    LocalFree(descriptor);
    return problem;
}

} // namespace

bool onlyAdministratorsCanChange(const std::string& programPath, std::string& problem) {
    // The program and its folders, up to the drive's root, which lets users make folders of
    // their own but not touch the ones below it that are not theirs.
    fs::path path = fs::u8path(programPath);
    for (;;) {
        if (path == path.root_path() || path.parent_path() == path)
            return true;
        problem = whoElseCanChange(path.wstring());
        if (!problem.empty())
            return false;
        path = path.parent_path();
    }
}

std::string executablePath() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::string();
    return FB::wstring_to_utf8(std::wstring(path, length));
}

bool installManifest(Browser browser, Scope scope, const std::string& manifest, std::string& where,
                     std::string& error) {
    const fs::path file = manifestPath(browser);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << manifest;
        out.close();
        if (!out) {
            error = "cannot write " + file.u8string();
            return false;
        }
    }
    HKEY key = nullptr;
    const std::wstring subkey = registryKey(browser);
    LONG result = RegCreateKeyExW(root(scope), subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        const std::wstring value = file.wstring();
        result = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
        error = "cannot write the registry key " + FB::wstring_to_utf8(subkey) + ": " + systemMessage(result);
        return false;
    }
    where = file.u8string() + " (" + (scope == Scope::System ? "HKLM\\" : "HKCU\\") +
            FB::wstring_to_utf8(subkey) + ")";
    return true;
}

bool uninstallManifest(Browser browser, Scope scope, std::string& where, std::string& error) {
    const std::wstring subkey = registryKey(browser);
    const LONG result = RegDeleteKeyW(root(scope), subkey.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        error = "cannot remove the registry key " + FB::wstring_to_utf8(subkey) + ": " + systemMessage(result);
        return false;
    }
    where = std::string(scope == Scope::System ? "HKLM\\" : "HKCU\\") + FB::wstring_to_utf8(subkey);
    if (result == ERROR_FILE_NOT_FOUND)
        where += " (was not installed)";
    // The manifest file may still serve the other scope, or Chrome and Chromium share it:
    // it goes only when no key names it any more.
    for (Browser user : {Browser::Chromium, Browser::Chrome, Browser::Edge, Browser::Firefox}) {
        if (manifestPath(user) != manifestPath(browser))
            continue;
        for (Scope s : {Scope::User, Scope::System}) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(root(s), registryKey(user).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
                RegCloseKey(key);
                return true;
            }
        }
    }
    std::error_code ignored;
    fs::remove(manifestPath(browser), ignored);
    return true;
}

}} // namespace orv::host
