// orvanta-host --doctor on Linux: a whole machine made in a temporary folder (a home and a
// system root), with the stand-in of the vendor module forwarding to a SoftHSM token. The
// sound machine gives no problem; each broken one gives exactly its own diagnosis and fix.

#include "DescribeChecks.h"
#include "Doctor.h"
#include "HostInstall.h"
#include "ProductVersion.h"
#include "SoftHsmToken.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using orv::host::Browser;
using orv::host::Check;
using orv::host::CheckStatus;

namespace {

const char* const kVariables[] = {"HOME", "XDG_CONFIG_HOME", "ORVANTA_PINENTRY", "DISPLAY", "WAYLAND_DISPLAY",
                                  "MOZ_PLUGIN_PATH", "QTWEBKIT_PLUGIN_PATH", "ORVANTA_ALLOWED_ORIGINS",
                                  "ORVANTA_MACHINE_ALLOWED_ORIGINS", "ORVANTA_DOCTOR_ROOT"};

void write(const fs::path& path, const std::string& text, bool executable = false) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    if (executable)
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
}

class Doctor : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables)
            if (const char* value = std::getenv(name))
                saved_[name] = value;
        if (const char* path = std::getenv("PATH"))
            path_ = path;
        for (const char* name : kVariables)
            unsetenv(name);
        char pattern[] = "/tmp/orvanta-doctor.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        top_ = pattern;
        home_ = top_ / "home";
        root_ = top_ / "root";
        lib_ = root_ / "usr/lib/orvanta";
        host_ = lib_ / "orvanta-host";
        setenv("HOME", home_.c_str(), 1);
        setenv("DISPLAY", ":0", 1);
        setenv("ORVANTA_PINENTRY", ORV_SCRIPTED_PINENTRY, 1);
        token_.emplace();
        makeSoundMachine();
    }

    void TearDown() override {
        token_.reset();
        std::error_code ignored;
        fs::remove_all(top_, ignored);
        for (const char* name : kVariables)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
        setenv("PATH", path_.c_str(), 1);
    }

    // Chromium and Firefox installed, the host installed for both, the extension on in one
    // profile of each, the plug-in linked into ~/.mozilla/plugins, the module beside the real
    // files, answers in both origin files.
    void makeSoundMachine() {
        write(root_ / "usr/bin/chromium", "#!/bin/sh\n", true);
        write(root_ / "usr/bin/firefox", "#!/bin/sh\n", true);
        write(host_, "#!/bin/sh\n", true);
        fs::create_symlink(orv::test::Standin::modulePath(), lib_ / "olpkcs11xsg.so");
        write(lib_ / "nporvanta.so", "plug-in");
        fs::create_directories(home_ / ".mozilla/plugins");
        fs::create_symlink(lib_ / "nporvanta.so", home_ / ".mozilla/plugins/nporvanta.so");
        for (Browser browser : {Browser::Chromium, Browser::Firefox}) {
            std::string where, error;
            ASSERT_TRUE(orv::host::installManifest(browser, orv::host::Scope::User,
                                                   orv::host::hostManifest(browser, host_.string()), where, error))
                << error;
        }
        chromiumProfile_ = home_ / ".config/chromium/Default";
        setChromiumEntry(nlohmann::json{{"state", 1},
                                        {"disable_reasons", nlohmann::json::array()},
                                        {"manifest", {{"version", ORV_PRODUCT_VERSION}}}});
        firefoxProfile_ = home_ / ".mozilla/firefox/k3x9.default-esr";
        write(firefoxProfile_ / "prefs.js", "// prefs\n");
        setFirefoxAddon(nlohmann::json{
            {"id", "orvanta@pelorima"}, {"version", ORV_PRODUCT_VERSION}, {"active", true}, {"userDisabled", false}});
        write(home_ / ".config/orvanta/allowed-origins", "allow https://bank.example\n");
        write(root_ / "etc/orvanta/allowed-origins", "deny http://127.0.0.1:8080\n");
    }

    void setChromiumEntry(const std::optional<nlohmann::json>& entry) {
        nlohmann::json preferences{{"extensions", {{"settings", {{"aaaabbbbccccddddeeeeffffgggghhhh", {{"state", 1}}}}}}}};
        if (entry)
            preferences["extensions"]["settings"][orv::host::kChromiumExtensionId] = *entry;
        write(chromiumProfile_ / "Preferences", preferences.dump());
    }

    void setFirefoxAddon(const nlohmann::json& addon) {
        write(firefoxProfile_ / "extensions.json",
              nlohmann::json{{"schemaVersion", 36}, {"addons", nlohmann::json::array({addon})}}.dump());
    }

    fs::path manifest(Browser browser) const {
        return orv::host::manifestPath(browser, orv::host::Scope::User);
    }

    std::vector<Check> run() const { return orv::host::runChecks({root_.string(), host_.string()}); }

    orv::test::Standin& standin() const { return token_->standin(); }

    std::map<std::string, std::string> saved_;
    std::string path_;
    fs::path top_, home_, root_, lib_, host_, chromiumProfile_, firefoxProfile_;
    std::optional<orv::test::SoftHsmToken> token_;
};

TEST_F(Doctor, SoundMachineGivesNoProblemAndNamesWhatItFound) {
    const std::vector<Check> checks = run();
    for (const Check& check : checks) {
        EXPECT_EQ(check.status, CheckStatus::Ok) << describe(checks);
        EXPECT_TRUE(check.fix.empty()) << describe(checks);
    }
    EXPECT_EQ(orv::host::doctorExitStatus(checks), 0);
    std::vector<std::string> ids;
    for (const Check& check : checks)
        ids.push_back(check.id);
    // In the order a call travels: browser to host, extension, plug-in, module, token,
    // prompt, the page's permission.
    const std::vector<std::string> expected{"manifest.chromium.user", "manifest.firefox.user", "extension.chromium.Default",
                                            "extension.firefox.k3x9.default-esr", "npapi", "module.host", "token.host",
                                            "pinentry", "origins.user", "origins.machine"};
    EXPECT_EQ(ids, expected) << describe(checks);
    const std::string all = describe(checks);
    EXPECT_NE(all.find(std::string("token \"") + orv::test::SoftHsmToken::kLabel + "\""), std::string::npos) << all;
    EXPECT_NE(all.find("allow https://bank.example"), std::string::npos) << all;
    EXPECT_NE(all.find("deny http://127.0.0.1:8080"), std::string::npos) << all;
    // It finalised the module it started, and never logged in.
    EXPECT_FALSE(standin().targetInitialized());
    EXPECT_EQ(standin().callsOf("C_Login"), 0u);
}

struct Breakage {
    const char* name;
    std::function<void(Doctor&)> breakIt;
    const char* id;
    const char* message; // part of the diagnosis
    const char* fix;     // part of the fix
};

class DoctorBreakage : public Doctor, public ::testing::WithParamInterface<Breakage> {
public:
    using Doctor::chromiumProfile_;
    using Doctor::firefoxProfile_;
    using Doctor::home_;
    using Doctor::host_;
    using Doctor::lib_;
    using Doctor::manifest;
    using Doctor::setChromiumEntry;
    using Doctor::setFirefoxAddon;
    using Doctor::standin;
    using Doctor::top_;
};

TEST_P(DoctorBreakage, GivesItsOwnDiagnosisAndFix) {
    GetParam().breakIt(*this);
    const std::vector<Check> checks = run();
    const std::string all = describe(checks);
    int problems = 0;
    for (const Check& check : checks) {
        if (check.status == CheckStatus::Ok)
            continue;
        ++problems;
        EXPECT_EQ(check.id, GetParam().id) << all;
        EXPECT_EQ(check.status, CheckStatus::Fail) << all;
        EXPECT_NE(check.message.find(GetParam().message), std::string::npos) << all;
        EXPECT_NE(check.fix.find(GetParam().fix), std::string::npos) << all;
    }
    EXPECT_EQ(problems, 1) << all;
    EXPECT_EQ(orv::host::doctorExitStatus(checks), 1);
}

void rewriteManifest(Doctor& d, Browser browser, const std::function<void(nlohmann::json&)>& change) {
    auto& t = static_cast<DoctorBreakage&>(d);
    std::ifstream in(t.manifest(browser));
    nlohmann::json manifest = nlohmann::json::parse(in);
    change(manifest);
    write(t.manifest(browser), manifest.dump());
}

DoctorBreakage& as(Doctor& d) { return static_cast<DoctorBreakage&>(d); }

const Breakage kBreakages[] = {
    {"MissingManifest", [](Doctor& d) { fs::remove(as(d).manifest(Browser::Chromium)); }, "manifest.chromium",
     "the host is not installed for chromium", "orvanta-host --install --browser chromium"},
    {"ManifestNamesMissingProgram",
     [](Doctor& d) {
         rewriteManifest(d, Browser::Firefox, [&](nlohmann::json& m) { m["path"] = (as(d).top_ / "old/orvanta-host").string(); });
     },
     "manifest.firefox.user", "old/orvanta-host, which does not exist", "orvanta-host --install --browser firefox"},
    {"ManifestNamesProgramThatCannotRun",
     [](Doctor& d) {
         write(as(d).top_ / "bin/orvanta-host", "#!/bin/sh\n");
         rewriteManifest(d, Browser::Chromium, [&](nlohmann::json& m) { m["path"] = (as(d).top_ / "bin/orvanta-host").string(); });
     },
     "manifest.chromium.user", "cannot be run (not executable)", "--install --browser chromium"},
    {"ManifestNamesAnotherHostWithoutModule",
     [](Doctor& d) {
         // The browser runs the copy its manifest names, and that copy looks beside itself.
         write(as(d).top_ / "other/orvanta-host", "#!/bin/sh\n", true);
         rewriteManifest(d, Browser::Chromium, [&](nlohmann::json& m) { m["path"] = (as(d).top_ / "other/orvanta-host").string(); });
     },
     "module.host.chromium", "vendor's module is missing", "other/olpkcs11xsg.so"},
    {"ManifestAllowsAnotherExtension",
     [](Doctor& d) {
         rewriteManifest(d, Browser::Chromium, [](nlohmann::json& m) {
             m["allowed_origins"] = {"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"};
         });
     },
     "manifest.chromium.user", "does not allow the extension edadiocalphgbgnlpfafmgfgcgooomgb",
     "--install --browser chromium"},
    {"FirefoxManifestAllowsAnotherAddon",
     [](Doctor& d) {
         rewriteManifest(d, Browser::Firefox, [](nlohmann::json& m) { m["allowed_extensions"] = {"other@example"}; });
     },
     "manifest.firefox.user", "does not allow the extension orvanta@pelorima", "--install --browser firefox"},
    {"ManifestNotJson", [](Doctor& d) { write(as(d).manifest(Browser::Chromium), "{\"name\": "); },
     "manifest.chromium.user", "is not valid JSON", "--install --browser chromium"},
    {"ExtensionDisabledInProfile",
     [](Doctor& d) { as(d).setChromiumEntry(nlohmann::json{{"state", 1}, {"disable_reasons", {1}}}); },
     "extension.chromium.Default", "turned off", "chrome://extensions and switch orvanta on"},
    {"ExtensionDisabledByOldState", [](Doctor& d) { as(d).setChromiumEntry(nlohmann::json{{"state", 0}}); },
     "extension.chromium.Default", "turned off", "switch orvanta on"},
    {"ExtensionNotInProfile", [](Doctor& d) { as(d).setChromiumEntry(std::nullopt); }, "extension.chromium.Default",
     "is not installed in chromium profile", "Load unpacked"},
    {"ExtensionOfAnotherRelease",
     [](Doctor& d) {
         as(d).setChromiumEntry(nlohmann::json{{"state", 1}, {"manifest", {{"version", "0.9.3"}}}});
     },
     "extension.chromium.Default", "version 0.9.3 but this orvanta-host is " ORV_PRODUCT_VERSION,
     "update or reload orvanta"},
    {"FirefoxAddonOfAnotherRelease",
     [](Doctor& d) {
         as(d).setFirefoxAddon(nlohmann::json{{"id", "orvanta@pelorima"}, {"version", "0.9.3"}, {"active", true}});
     },
     "extension.firefox.k3x9.default-esr", "is version 0.9.3", "orvanta.xpi of this host's release"},
    {"FirefoxAddonDisabled",
     [](Doctor& d) {
         as(d).setFirefoxAddon(nlohmann::json{{"id", "orvanta@pelorima"}, {"active", false}, {"userDisabled", true}});
     },
     "extension.firefox.k3x9.default-esr", "turned off", "about:addons and switch orvanta on"},
    {"ModuleMissing", [](Doctor& d) { fs::remove(as(d).lib_ / "olpkcs11xsg.so"); }, "module.host",
     "vendor's module is missing", "/usr/lib/orvanta/olpkcs11xsg.so"},
    {"ModuleNotLoadable", [](Doctor& d) { write(as(d).lib_ / "olpkcs11xsg.so.new", "not a module");
                                           fs::rename(as(d).lib_ / "olpkcs11xsg.so.new", as(d).lib_ / "olpkcs11xsg.so"); },
     "module.host", "cannot load", "built for this system"},
    {"ModuleFailsInitialize",
     [](Doctor& d) { as(d).standin().fail("C_Initialize", 1, CKR_GENERAL_ERROR); }, "module.host",
     "C_Initialize answered CKR_GENERAL_ERROR", "pcscd"},
    {"NoToken", [](Doctor& d) { as(d).standin().oversize(orv::test::Standin::slotCount(), 0); }, "token.host",
     "no token is inserted", "insert the token"},
    {"NoPinentry",
     [](Doctor& d) { setenv("ORVANTA_PINENTRY", (as(d).top_ / "bin/pinentry").c_str(), 1); }, "pinentry",
     "cannot be run", "ORVANTA_PINENTRY"},
    {"NoPinentryOnPath",
     [](Doctor& d) {
         unsetenv("ORVANTA_PINENTRY");
         setenv("PATH", (as(d).top_ / "empty-bin").c_str(), 1);
     },
     "pinentry", "\"pinentry\" is not on PATH", "apt install pinentry-gnome3"},
    {"TerminalPinentry",
     [](Doctor& d) {
         fs::create_directories(as(d).top_ / "bin");
         fs::create_symlink(ORV_SCRIPTED_PINENTRY, as(d).top_ / "bin/pinentry-curses");
         setenv("ORVANTA_PINENTRY", (as(d).top_ / "bin/pinentry-curses").c_str(), 1);
     },
     "pinentry", "asks on a terminal", "update-alternatives --config pinentry"},
    {"NoDisplay", [](Doctor&) { unsetenv("DISPLAY"); }, "pinentry", "DISPLAY and WAYLAND_DISPLAY are unset",
     "desktop session"},
    {"UnreadableOriginsFile",
     [](Doctor& d) {
         // A folder where the file should be cannot be read even by root, who runs the tests here.
         fs::remove(as(d).home_ / ".config/orvanta/allowed-origins");
         fs::create_directories(as(d).home_ / ".config/orvanta/allowed-origins");
     },
     "origins.user", "cannot read your allowed-origins file", "mv "},
    {"PluginCopyWithoutModule",
     [](Doctor& d) {
         // A copy of the plug-in (not a link) in a MOZ_PLUGIN_PATH folder looks beside itself.
         write(as(d).top_ / "moz/nporvanta.so", "plug-in");
         setenv("MOZ_PLUGIN_PATH", (as(d).top_ / "moz").c_str(), 1);
     },
     "module.plugin", "the NPAPI plug-in", "moz/olpkcs11xsg.so"},
    {"BrokenPluginLink",
     [](Doctor& d) { fs::remove(as(d).lib_ / "nporvanta.so"); }, "npapi", "a link to a file that is not there",
     "rm "},
};

INSTANTIATE_TEST_SUITE_P(Machines, DoctorBreakage, ::testing::ValuesIn(kBreakages),
                         [](const ::testing::TestParamInfo<Breakage>& info) { return std::string(info.param.name); });

// The program itself, as a support script runs it: --json gives one object per check with
// the four fields, and the exit status tells whether anything is broken.
class DoctorProgram : public Doctor {
protected:
    // Runs a copy of orvanta-host from the machine's /usr/lib/orvanta (so the module beside
    // it is the one found); returns the exit status and the standard output.
    int runProgram(const std::string& arguments, std::string& output, bool withErrors = true) {
        fs::copy_file(ORV_HOST_PROGRAM, host_, fs::copy_options::overwrite_existing);
        setenv("ORVANTA_DOCTOR_ROOT", root_.c_str(), 1);
        const std::string command = host_.string() + " " + arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(DoctorProgram, JsonForScriptsAndZeroExitWhenSound) {
    // A vendor module that prints on loading does not spoil the JSON.
    setenv("ORVANTA_STANDIN_CHATTY", "vendor module 2.0 loaded\n", 1);
    std::string output;
    const int status = runProgram("--doctor --json", output, false);
    unsetenv("ORVANTA_STANDIN_CHATTY");
    ASSERT_EQ(status, 0) << output;
    const nlohmann::json checks = nlohmann::json::parse(output);
    ASSERT_TRUE(checks.is_array());
    ASSERT_EQ(checks.size(), 10u) << output;
    for (const auto& check : checks) {
        ASSERT_TRUE(check.is_object()) << output;
        EXPECT_EQ(check.size(), 4u) << check;
        EXPECT_TRUE(check.at("id").is_string()) << check;
        EXPECT_EQ(check.at("status"), "ok") << check;
        EXPECT_TRUE(check.at("message").is_string()) << check;
        EXPECT_EQ(check.at("fix"), "") << check;
    }
}

TEST_F(DoctorProgram, BrokenMachineExitsNonZeroWithTheFixInText) {
    fs::remove(manifest(Browser::Chromium));
    unsetenv("DISPLAY");
    std::string output;
    EXPECT_EQ(runProgram("--doctor", output), 1) << output;
    EXPECT_NE(output.find("fail  manifest.chromium: the host is not installed for chromium"), std::string::npos) << output;
    EXPECT_NE(output.find("      fix: " + host_.string() + " --install --browser chromium\n"), std::string::npos) << output;
    EXPECT_NE(output.find("fail  pinentry: "), std::string::npos) << output;
    EXPECT_NE(output.find("2 problems found."), std::string::npos) << output;

    output.clear();
    EXPECT_EQ(runProgram("--doctor --json", output), 1) << output;
    const nlohmann::json checks = nlohmann::json::parse(output);
    int failed = 0;
    for (const auto& check : checks)
        failed += check.at("status") == "fail" ? 1 : 0;
    EXPECT_EQ(failed, 2) << output;
}

TEST_F(DoctorProgram, RefusesUnknownArguments) {
    std::string output;
    EXPECT_EQ(runProgram("--doctor --verbose", output), 2) << output;
    EXPECT_NE(output.find("unknown argument \"--verbose\""), std::string::npos) << output;
}

} // namespace
