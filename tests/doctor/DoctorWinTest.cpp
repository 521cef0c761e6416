// orvanta-host --doctor on Windows (under Wine, in a throwaway prefix): the native messaging
// keys in the user's hive and both machine views, the manifests they name, the extension in a
// Chromium profile, the vendor module beside the host (the test doubles in win-modules and
// npapi-winhost), the plug-in's registration and the origins file. The sound set-up gives no
// failure; each broken one exactly its own.

#include "DescribeChecks.h"
#include "Doctor.h"
#include "HostInstall.h"
#include "utf8_tools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using orv::host::Browser;
using orv::host::Check;
using orv::host::CheckStatus;

namespace {

const wchar_t* const kVariables[] = {L"LOCALAPPDATA", L"APPDATA", L"ORVANTA_ALLOWED_ORIGINS",
                                     L"ORVANTA_MACHINE_ALLOWED_ORIGINS"};
const wchar_t kPluginKey[] = L"Software\\MozillaPlugins\\kelmo.ru/orvanta";

fs::path exeFolder() {
    wchar_t exe[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return fs::path(std::wstring(exe, n)).parent_path();
}

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void setValue(HKEY root, REGSAM view, const std::wstring& key, const wchar_t* name, const fs::path& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    const std::wstring data = value.wstring();
    EXPECT_EQ(RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

void removeKey(HKEY root, REGSAM view, const std::wstring& key) { RegDeleteKeyExW(root, key.c_str(), view, 0); }

class DoctorWin : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : kVariables) {
            wchar_t value[MAX_PATH + 1];
            const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
            if (n > 0 && n <= MAX_PATH)
                saved_[name] = std::wstring(value, n);
            SetEnvironmentVariableW(name, nullptr);
        }
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        top_ = fs::path(temp) / (L"orvanta-doctor-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++serial_));
        fs::create_directories(top_);
        SetEnvironmentVariableW(L"LOCALAPPDATA", (top_ / L"local").wstring().c_str());
        SetEnvironmentVariableW(L"APPDATA", (top_ / L"roaming").wstring().c_str());
        SetEnvironmentVariableW(L"ORVANTA_MACHINE_ALLOWED_ORIGINS", (top_ / L"machine-origins").wstring().c_str());
        host_ = top_ / L"orvanta" / L"orvanta-host.exe";
        write(host_, "MZ");
        // Each set-up has a copy of its own: a module already loaded under another path
        // stays loaded.
        fs::copy_file(exeFolder() / L"npapi-winhost" / L"olpkcs11xsg.dll", host_.parent_path() / L"olpkcs11xsg.dll");
        manifest_ = host_.parent_path() / L"pelorima.orvanta.json";
        write(manifest_, orv::host::hostManifest(Browser::Chromium, host_.u8string()));
        setValue(HKEY_CURRENT_USER, 0, orv::host::registryKey(Browser::Chromium), nullptr, manifest_);
        profile_ = top_ / L"local" / L"Chromium" / L"User Data" / L"Default";
        write(profile_.parent_path() / L"Local State", "{}");
        setChromiumEntry(nlohmann::json{{"state", 1}});
        write(top_ / L"roaming" / L"orvanta" / L"allowed-origins", "allow https://bank.example\n");
    }

    void TearDown() override {
        for (Browser browser : {Browser::Chromium, Browser::Chrome, Browser::Edge, Browser::Firefox}) {
            removeKey(HKEY_CURRENT_USER, 0, orv::host::registryKey(browser));
            removeKey(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, orv::host::registryKey(browser));
        }
        removeKey(HKEY_CURRENT_USER, 0, kPluginKey);
        for (const wchar_t* name : kVariables)
            SetEnvironmentVariableW(name, nullptr);
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name.c_str(), value.c_str());
        std::error_code ignored;  // the loaded module's copy stays until the process ends
        fs::remove_all(top_, ignored);
    }

    void setChromiumEntry(const nlohmann::json& entry) {
        nlohmann::json preferences{{"extensions", {{"settings", nlohmann::json::object()}}}};
        if (!entry.is_null())
            preferences["extensions"]["settings"][orv::host::kChromiumExtensionId] = entry;
        write(profile_ / L"Preferences", preferences.dump());
    }

    void rewriteManifest(const std::function<void(nlohmann::json&)>& change) {
        std::ifstream in(manifest_);
        nlohmann::json manifest = nlohmann::json::parse(in);
        in.close();
        change(manifest);
        write(manifest_, manifest.dump());
    }

    void replaceModule(const fs::path& with) {
        fs::copy_file(with, host_.parent_path() / L"olpkcs11xsg.dll", fs::copy_options::overwrite_existing);
    }

    std::vector<Check> run() const { return orv::host::runChecks({std::string(), host_.u8string()}); }

    static inline int serial_ = 0;
    std::map<std::wstring, std::wstring> saved_;
    fs::path top_, host_, manifest_, profile_;
};

TEST_F(DoctorWin, SoundSetUpHasNoFailure) {
    const std::vector<Check> checks = run();
    const std::string all = describe(checks);
    for (const Check& check : checks)
        EXPECT_NE(check.status, CheckStatus::Fail) << all;
    EXPECT_EQ(orv::host::doctorExitStatus(checks), 0) << all;
    std::map<std::string, CheckStatus> byId;
    for (const Check& check : checks)
        byId[check.id] = check.status;
    for (const char* id : {"manifest.chromium.user", "extension.chromium.Default", "module.host", "token.host", "prompt",
                           "origins.user", "origins.machine"})
        EXPECT_EQ(byId.count(id) ? byId[id] : CheckStatus::Fail, CheckStatus::Ok) << id << "\n" << all;
    EXPECT_NE(all.find("token \"orvanta double\""), std::string::npos) << all;
    EXPECT_NE(all.find("allow https://bank.example"), std::string::npos) << all;
}

struct Breakage {
    const char* name;
    std::function<void(DoctorWin&)> breakIt;
    const char* id;
    const char* message;
    const char* fix;
};

class DoctorWinBreakage : public DoctorWin, public ::testing::WithParamInterface<Breakage> {
public:
    using DoctorWin::host_;
    using DoctorWin::manifest_;
    using DoctorWin::replaceModule;
    using DoctorWin::rewriteManifest;
    using DoctorWin::setChromiumEntry;
    using DoctorWin::top_;
};

DoctorWinBreakage& as(DoctorWin& d) { return static_cast<DoctorWinBreakage&>(d); }

TEST_P(DoctorWinBreakage, GivesItsOwnDiagnosisAndFix) {
    GetParam().breakIt(*this);
    const std::vector<Check> checks = run();
    const std::string all = describe(checks);
    int failures = 0;
    for (const Check& check : checks) {
        if (check.status != CheckStatus::Fail)
            continue;
        ++failures;
        EXPECT_EQ(check.id, GetParam().id) << all;
        EXPECT_NE(check.message.find(GetParam().message), std::string::npos) << all;
        EXPECT_NE(check.fix.find(GetParam().fix), std::string::npos) << all;
    }
    EXPECT_EQ(failures, 1) << all;
    EXPECT_EQ(orv::host::doctorExitStatus(checks), 1);
}

const Breakage kBreakages[] = {
    {"NoKey", [](DoctorWin&) { removeKey(HKEY_CURRENT_USER, 0, orv::host::registryKey(Browser::Chromium)); },
     "manifest.chromium", "the host is not installed for chromium", "--install --browser chromium"},
    {"KeyNamesMissingManifest", [](DoctorWin& d) { fs::remove(as(d).manifest_); }, "manifest.chromium.user",
     "pelorima.orvanta.json, which does not exist", "--install --browser chromium"},
    {"ManifestNamesMissingProgram",
     [](DoctorWin& d) {
         as(d).rewriteManifest([&](nlohmann::json& m) { m["path"] = (as(d).top_ / L"old" / L"orvanta-host.exe").u8string(); });
     },
     "manifest.chromium.user", "orvanta-host.exe, which does not exist", "--install --browser chromium"},
    {"ManifestNamesAnotherHostWithoutModule",
     [](DoctorWin& d) {
         write(as(d).top_ / L"other" / L"orvanta-host.exe", "MZ");
         as(d).rewriteManifest([&](nlohmann::json& m) { m["path"] = (as(d).top_ / L"other" / L"orvanta-host.exe").u8string(); });
     },
     "module.host.chromium", "vendor's module is missing", "other\\olpkcs11xsg.dll"},
    {"ManifestAllowsAnotherExtension",
     [](DoctorWin& d) {
         as(d).rewriteManifest([](nlohmann::json& m) {
             m["allowed_origins"] = {"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"};
         });
     },
     "manifest.chromium.user", "does not allow the extension edadiocalphgbgnlpfafmgfgcgooomgb", "--install"},
    {"BrokenKeyInMachines32BitView",
     [](DoctorWin& d) {
         const fs::path other = as(d).top_ / L"machine.json";
         write(other, orv::host::hostManifest(Browser::Chromium, (as(d).top_ / L"gone.exe").u8string()));
         setValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, orv::host::registryKey(Browser::Chromium), nullptr, other);
     },
     "manifest.chromium.system32", "gone.exe, which does not exist", "--system"},
    {"ExtensionDisabled", [](DoctorWin& d) { as(d).setChromiumEntry(nlohmann::json{{"disable_reasons", {1}}}); },
     "extension.chromium.Default", "turned off", "chrome://extensions"},
    {"ModuleMissing", [](DoctorWin& d) { fs::remove(as(d).host_.parent_path() / L"olpkcs11xsg.dll"); }, "module.host",
     "vendor's module is missing", "olpkcs11xsg.dll"},
    {"ModuleWithoutFunctionList",
     [](DoctorWin& d) { as(d).replaceModule(exeFolder() / L"win-modules" / L"no-export" / L"olpkcs11xsg.dll"); },
     "module.host", "no C_GetFunctionList", "PKCS#11 module"},
    {"NoToken", [](DoctorWin& d) { as(d).replaceModule(exeFolder() / L"win-modules" / L"olpkcs11xsg.dll"); },
     "token.host", "no token is inserted", "insert the token"},
    {"RegisteredPluginMissing",
     [](DoctorWin& d) {
         setValue(HKEY_CURRENT_USER, 0, kPluginKey, L"Path", as(d).top_ / L"gone" / L"nporvanta.dll");
     },
     "npapi", "nporvanta.dll, which does not exist", "regsvr32"},
    {"UnreadableOriginsFile",
     [](DoctorWin& d) {
         const fs::path file = as(d).top_ / L"roaming" / L"orvanta" / L"allowed-origins";
         fs::remove(file);
         fs::create_directories(file);
     },
     "origins.user", "cannot read your allowed-origins file", "out of the way"},
};

INSTANTIATE_TEST_SUITE_P(SetUps, DoctorWinBreakage, ::testing::ValuesIn(kBreakages),
                         [](const ::testing::TestParamInfo<Breakage>& info) { return std::string(info.param.name); });

} // namespace
