#include "RegistryScriptRunner.h"

#include <string>

#include "utf8_tools.h"

namespace FB {
namespace Atl {

namespace {

// RegDeleteTree is not in every header set the cross builds use; this is the same walk.
LONG deleteTree(HKEY parent, const std::wstring& name) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    wchar_t child[256];
    for (;;) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        rc = deleteTree(key, std::wstring(child, length));
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(key);
            return rc;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name.c_str());
}

HRESULT fromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

bool missing(LONG rc) { return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND; }

HRESULT setValue(HKEY key, const wchar_t* name, const RegNode& node) {
    if (node.type == 'd') {
        DWORD value = static_cast<DWORD>(node.dword);
        return fromWin32(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                        sizeof value));
    }
    std::wstring text = utf8_to_wstring(node.text);
    return fromWin32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

HRESULT registerNodes(HKEY parent, const std::vector<RegNode>& nodes) {
    for (const RegNode& node : nodes) {
        std::wstring name = utf8_to_wstring(node.name);
        if (node.isValue) {
            HRESULT hr = setValue(parent, name.c_str(), node);
            if (FAILED(hr))
                return hr;
            continue;
        }
        if (node.flag == RegKeyFlag::Delete || node.flag == RegKeyFlag::ForceRemove) {
            LONG rc = deleteTree(parent, name);
            if (rc != ERROR_SUCCESS && !missing(rc))
                return fromWin32(rc);
            if (node.flag == RegKeyFlag::Delete)
                continue;
        }
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  &key, nullptr);
        if (rc != ERROR_SUCCESS)
            return fromWin32(rc);
        HRESULT hr = node.hasValue ? setValue(key, nullptr, node) : S_OK;
        if (SUCCEEDED(hr))
            hr = registerNodes(key, node.children);
        RegCloseKey(key);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// Removes what registration wrote: keys without a flag only once nobody else's subkeys
// remain under them, NoRemove keys never, ForceRemove keys with everything below.
HRESULT unregisterNodes(HKEY parent, const std::vector<RegNode>& nodes) {
    for (const RegNode& node : nodes) {
        std::wstring name = utf8_to_wstring(node.name);
        if (node.isValue) {
            LONG rc = RegDeleteValueW(parent, name.c_str());
            if (rc != ERROR_SUCCESS && !missing(rc))
                return fromWin32(rc);
            continue;
        }
        if (node.flag == RegKeyFlag::Delete)
            continue;
        if (node.flag == RegKeyFlag::ForceRemove) {
            LONG rc = deleteTree(parent, name);
            if (rc != ERROR_SUCCESS && !missing(rc))
                return fromWin32(rc);
            continue;
        }
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &key);
        if (missing(rc))
            continue;
        if (rc != ERROR_SUCCESS)
            return fromWin32(rc);
        HRESULT hr = unregisterNodes(key, node.children);
        DWORD subkeys = 0;
        if (SUCCEEDED(hr))
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (FAILED(hr))
            return hr;
        if (node.flag == RegKeyFlag::None && subkeys == 0) {
            rc = RegDeleteKeyW(parent, name.c_str());
            if (rc != ERROR_SUCCESS && !missing(rc))
                return fromWin32(rc);
        }
    }
    return S_OK;
}

HRESULT openRoot(const std::string& root, bool perUserClasses, HKEY& out, bool& close) {
    close = false;
    if (root == "HKCR") {
        if (!perUserClasses) {
            out = HKEY_CLASSES_ROOT;
            return S_OK;
        }
        close = true;
        return fromWin32(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                         KEY_READ | KEY_WRITE, nullptr, &out, nullptr));
    }
    if (root == "HKCU") out = HKEY_CURRENT_USER;
    else if (root == "HKLM") out = HKEY_LOCAL_MACHINE;
    else if (root == "HKU") out = HKEY_USERS;
    else if (root == "HKPD") out = HKEY_PERFORMANCE_DATA;
    else if (root == "HKDD") out = HKEY_DYN_DATA;
    else if (root == "HKCC") out = HKEY_CURRENT_CONFIG;
    else return E_INVALIDARG;
    return S_OK;
}

} // namespace

HRESULT applyRegistryScript(const RegScript& script, bool install, bool perUserClasses) {
    if (!script.ok())
        return DISP_E_EXCEPTION;
    for (const RegRoot& root : script.roots) {
        HKEY key = nullptr;
        bool close = false;
        HRESULT hr = openRoot(root.root, perUserClasses, key, close);
        if (FAILED(hr))
            return hr;
        hr = install ? registerNodes(key, root.keys) : unregisterNodes(key, root.keys);
        if (close)
            RegCloseKey(key);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT runRegistryResource(HMODULE module, UINT id, bool install, const RegVariables& variables,
                            bool perUserClasses) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!found)
        return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL loaded = LoadResource(module, found);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data)
        return HRESULT_FROM_WIN32(GetLastError());
    std::string text(data, SizeofResource(module, found));
    // Resource compilers may pad the text; a terminating zero ends it.
    std::string::size_type nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return applyRegistryScript(parseRegistryScript(text, variables), install, perUserClasses);
}

} // namespace Atl
} // namespace FB
