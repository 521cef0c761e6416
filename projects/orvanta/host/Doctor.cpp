#include "Doctor.h"

#include "AllowedOrigins.h"
#include "ProductVersion.h"

#include <p11-kit/pkcs11.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>
#include <sstream>

namespace orv { namespace host {

namespace {

const char* statusWord(CheckStatus status) {
    switch (status) {
    case CheckStatus::Ok:
        return "ok";
    case CheckStatus::Warn:
        return "warn";
    case CheckStatus::Fail:
        return "fail";
    }
    return "fail";
}

Check make(std::string id, CheckStatus status, std::string message, std::string fix = std::string()) {
    Check check;
    check.id = std::move(id);
    check.status = status;
    check.message = std::move(message);
    check.fix = std::move(fix);
    return check;
}

std::string hex(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

// The answers a vendor module gives most often when it cannot start, by name.
std::string rvText(CK_RV rv) {
    switch (rv) {
    case CKR_OK:
        return "CKR_OK";
    case CKR_HOST_MEMORY:
        return "CKR_HOST_MEMORY";
    case CKR_GENERAL_ERROR:
        return "CKR_GENERAL_ERROR";
    case CKR_FUNCTION_FAILED:
        return "CKR_FUNCTION_FAILED";
    case CKR_ARGUMENTS_BAD:
        return "CKR_ARGUMENTS_BAD";
    case CKR_CANT_LOCK:
        return "CKR_CANT_LOCK";
    case CKR_DEVICE_ERROR:
        return "CKR_DEVICE_ERROR";
    case CKR_DEVICE_REMOVED:
        return "CKR_DEVICE_REMOVED";
    case CKR_TOKEN_NOT_PRESENT:
        return "CKR_TOKEN_NOT_PRESENT";
    case CKR_TOKEN_NOT_RECOGNIZED:
        return "CKR_TOKEN_NOT_RECOGNIZED";
    case CKR_CRYPTOKI_ALREADY_INITIALIZED:
        return "CKR_CRYPTOKI_ALREADY_INITIALIZED";
    default:
        return hex(rv);
    }
}

// A PKCS#11 label: 32 bytes padded with blanks.
std::string label(const unsigned char* bytes, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(bytes), size);
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool listHas(const nlohmann::json& list, const std::string& wanted) {
    if (!list.is_array())
        return false;
    for (const auto& item : list)
        if (item.is_string() && item.get<std::string>() == wanted)
            return true;
    return false;
}

// What lets the reader in again: its rights back for a file, or something that is not a
// file moved out of the way (its content is not a list the host could have written).
std::string unreadableOriginsFix(const std::string& path, bool person) {
    std::error_code ignored;
    const bool regular = std::filesystem::is_regular_file(std::filesystem::u8path(path), ignored);
#ifdef _WIN32
    (void)person;
    return regular ? "give yourself read and write access to " + path : "move " + path + " out of the way";
#else
    const std::string sudo = person ? "" : "sudo ";
    if (!regular)
        return sudo + "mv " + path + " " + path + ".old";
    return person ? "chmod u+rw " + path : "sudo chmod a+r " + path;
#endif
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::u8path(path), ignored);
}

// Empty when the file cannot be read; `error` then says why (empty for a missing file).
bool readFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
        error = errno == ENOENT ? std::string() : std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

// The extension and the host come from one release; another pair may not understand each
// other's messages.
bool sameRelease(const std::string& id, const std::string& what, const std::string& version,
                 const std::string& update, std::vector<Check>& checks) {
    if (version.empty() || version == ORV_PRODUCT_VERSION)
        return true;
    checks.push_back({id, CheckStatus::Fail,
                      what + " is version " + version + " but this orvanta-host is " + ORV_PRODUCT_VERSION,
                      update + " (or install the orvanta package of the same release as the extension)"});
    return false;
}

const char* extensionsPage(Browser browser) {
    return browser == Browser::Edge ? "edge://extensions" : browser == Browser::Firefox ? "about:addons" : "chrome://extensions";
}

// The extension's entry in one Chromium-family profile: from "Secure Preferences" (where
// newer browsers keep it) or "Preferences".
void checkChromiumProfile(Browser browser, const std::filesystem::path& profile, std::vector<Check>& checks) {
    const std::string name = browserName(browser);
    const std::string id = "extension." + name + "." + profile.filename().u8string();
    nlohmann::json entry;
    bool readable = false;
    std::string unreadable;
    for (const char* file : {"Secure Preferences", "Preferences"}) {
        std::string text;
        std::string error;
        const std::string path = (profile / file).u8string();
        if (!readFile(path, text, error)) {
            if (!error.empty())
                unreadable = "cannot read " + path + ": " + error;
            continue;
        }
        const nlohmann::json preferences = nlohmann::json::parse(text, nullptr, false);
        if (preferences.is_discarded()) {
            unreadable = path + " is not valid JSON";
            continue;
        }
        readable = true;
        const nlohmann::json::json_pointer pointer("/extensions/settings/" + std::string(kChromiumExtensionId));
        if (preferences.contains(pointer) && preferences.at(pointer).is_object()) {
            entry = preferences.at(pointer);
            break;
        }
    }
    if (!readable && !unreadable.empty()) {
        checks.push_back({id, CheckStatus::Warn, unreadable, "close " + name + " and run the doctor again"});
        return;
    }
    if (entry.is_null()) {
        checks.push_back({id, CheckStatus::Fail,
                          "the orvanta extension (" + std::string(kChromiumExtensionId) + ") is not installed in " +
                              name + " profile " + profile.u8string(),
                          std::string("in that profile open ") + extensionsPage(browser) +
                              ", turn on developer mode and choose \"Load unpacked\" with orvanta's extension folder"});
        return;
    }
    // Chromium keeps why an extension is off in "disable_reasons" (a bit mask once, a list
    // now) and, in older versions, "state" 0.
    bool disabled = false;
    if (const auto reasons = entry.find("disable_reasons"); reasons != entry.end())
        disabled = (reasons->is_array() && !reasons->empty()) || (reasons->is_number() && reasons->get<long>() != 0);
    if (const auto state = entry.find("state"); state != entry.end() && state->is_number())
        disabled = disabled || state->get<long>() == 0;
    std::string version;
    if (const auto manifest = entry.find("manifest"); manifest != entry.end() && manifest->is_object())
        version = manifest->value("version", std::string());
    if (disabled)
        checks.push_back({id, CheckStatus::Fail,
                          "the orvanta extension is turned off in " + name + " profile " + profile.u8string(),
                          std::string("in that profile open ") + extensionsPage(browser) + " and switch orvanta on"});
    else if (!sameRelease(id, "the orvanta extension in " + name + " profile " + profile.u8string(), version,
                          std::string("in that profile open ") + extensionsPage(browser) +
                              " and update or reload orvanta from the release of this host",
                          checks))
        return;
    else
        checks.push_back({id, CheckStatus::Ok, "the orvanta extension is on in " + name + " profile " + profile.u8string(), ""});
}

void checkFirefoxProfile(const std::filesystem::path& profile, std::vector<Check>& checks) {
    const std::string id = "extension.firefox." + profile.filename().u8string();
    const std::string path = (profile / "extensions.json").u8string();
    std::string text;
    std::string error;
    nlohmann::json addons;
    if (readFile(path, text, error)) {
        const nlohmann::json all = nlohmann::json::parse(text, nullptr, false);
        if (all.is_discarded()) {
            checks.push_back({id, CheckStatus::Warn, path + " is not valid JSON", "close firefox and run the doctor again"});
            return;
        }
        addons = all.value("addons", nlohmann::json());
    } else if (!error.empty()) {
        checks.push_back({id, CheckStatus::Warn, "cannot read " + path + ": " + error, "chmod u+r " + path});
        return;
    }
    if (addons.is_array()) {
        for (const auto& addon : addons) {
            if (!addon.is_object() || addon.value("id", std::string()) != kFirefoxExtensionId)
                continue;
            if (addon.value("userDisabled", false)) {
                checks.push_back({id, CheckStatus::Fail, "the orvanta add-on is turned off in Firefox profile " + profile.u8string(),
                                  "in that profile open about:addons and switch orvanta on"});
            } else if (!addon.value("active", false)) {
                checks.push_back({id, CheckStatus::Fail,
                                  "Firefox keeps the orvanta add-on off in profile " + profile.u8string() +
                                      (addon.value("appDisabled", false) ? " (not signed, or not for this Firefox version)" : ""),
                                  "install the signed orvanta.xpi from about:addons (\"Install Add-on From File\")"});
            } else if (sameRelease(id, "the orvanta add-on in Firefox profile " + profile.u8string(),
                                   addon.value("version", std::string()),
                                   "install orvanta.xpi of this host's release from about:addons", checks)) {
                checks.push_back({id, CheckStatus::Ok, "the orvanta add-on is on in Firefox profile " + profile.u8string(), ""});
            }
            return;
        }
    }
    checks.push_back({id, CheckStatus::Fail,
                      "the orvanta add-on (" + std::string(kFirefoxExtensionId) + ") is not installed in Firefox profile " +
                          profile.u8string(),
                      "in that profile open about:addons and choose \"Install Add-on From File\" with orvanta.xpi"});
}

} // namespace

bool readTextFile(const std::string& path, std::string& text, std::string& error) {
    return readFile(path, text, error);
}

void checkBrowserProfiles(Browser browser, const std::string& folder, std::vector<Check>& checks) {
    std::error_code error;
    std::set<std::filesystem::path> profiles;
    if (!folder.empty())
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(folder), error))
            if (exists((entry.path() / (browser == Browser::Firefox ? "prefs.js" : "Preferences")).u8string()))
                profiles.insert(entry.path());
    if (profiles.empty()) {
        checks.push_back({"extension." + std::string(browserName(browser)), CheckStatus::Warn,
                          "no " + std::string(browserName(browser)) + " profile to look into under " + folder,
                          "start " + std::string(browserName(browser)) + " once, then run the doctor again"});
        return;
    }
    for (const std::filesystem::path& profile : profiles) {
        if (browser == Browser::Firefox)
            checkFirefoxProfile(profile, checks);
        else
            checkChromiumProfile(browser, profile, checks);
    }
}


Check checkManifestText(Browser browser, const std::string& id, const std::string& where, const std::string& text,
                        const std::string& fix, std::string* program) {
    nlohmann::json manifest;
    try {
        manifest = nlohmann::json::parse(text);
    } catch (const std::exception&) {
        return make(id, CheckStatus::Fail, where + " is not valid JSON", fix);
    }
    if (!manifest.is_object())
        return make(id, CheckStatus::Fail, where + " is not a JSON object", fix);
    const auto name = manifest.find("name");
    if (name == manifest.end() || !name->is_string() || name->get<std::string>() != kHostName)
        return make(id, CheckStatus::Fail, where + " does not name the host \"" + kHostName + "\"", fix);
    const auto type = manifest.find("type");
    if (type == manifest.end() || !type->is_string() || type->get<std::string>() != "stdio")
        return make(id, CheckStatus::Fail, where + " does not give \"type\": \"stdio\"", fix);
    const auto path = manifest.find("path");
    if (path == manifest.end() || !path->is_string() || path->get<std::string>().empty())
        return make(id, CheckStatus::Fail, where + " names no program (\"path\")", fix);
    const std::string named = path->get<std::string>();
    // Chromium and Firefox take a relative path as relative to the manifest's folder (Windows
    // only); on Linux it must be absolute.
    std::filesystem::path programPath = std::filesystem::u8path(named);
    if (programPath.is_relative()) {
#ifdef _WIN32
        programPath = std::filesystem::u8path(where).parent_path() / programPath;
#else
        return make(id, CheckStatus::Fail, where + " names the program by a relative path (" + named + ")", fix);
#endif
    }
    const std::string problem = whyNotRunnable(programPath.u8string());
    if (!problem.empty())
        return make(id, CheckStatus::Fail, where + " names the program " + named + ", which " + problem, fix);
    if (browser == Browser::Firefox) {
        if (!listHas(manifest.value("allowed_extensions", nlohmann::json()), kFirefoxExtensionId))
            return make(id, CheckStatus::Fail,
                        where + " does not allow the extension " + kFirefoxExtensionId + " (\"allowed_extensions\")",
                        fix);
    } else {
        const std::string origin = std::string("chrome-extension://") + kChromiumExtensionId + "/";
        if (!listHas(manifest.value("allowed_origins", nlohmann::json()), origin))
            return make(id, CheckStatus::Fail,
                        where + " does not allow the extension " + kChromiumExtensionId + " (\"allowed_origins\")",
                        fix);
    }
    if (program)
        *program = programPath.u8string();
    return make(id, CheckStatus::Ok, where + " starts " + named);
}

void checkVendorModule(const std::string& path, const std::string& who, const std::string& idSuffix,
                       std::vector<Check>& checks) {
    const std::string id = "module." + idSuffix;
    const std::string tokenId = "token." + idSuffix;
    std::error_code ignored;
    if (!std::filesystem::exists(std::filesystem::u8path(path), ignored)) {
        checks.push_back(make(id, CheckStatus::Fail,
                              "the token vendor's module is missing: " + who + " looks for it at " + path,
                              "put the vendor's module (from the token's driver package) at " + path));
        return;
    }
    std::string error;
    void* module = openVendorModule(path, error);
    if (!module) {
        checks.push_back(make(id, CheckStatus::Fail, "cannot load " + path + ": " + error,
                              "install the token vendor's module built for this system (the same 32/64-bit as " +
                                  who + ") at " + path));
        return;
    }
    // The module stays loaded: some vendor modules cannot be unloaded safely, and the
    // doctor ends soon after.
    const auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(vendorModuleSymbol(module, "C_GetFunctionList"));
    if (!getFunctionList) {
        checks.push_back(make(id, CheckStatus::Fail, path + " is not a PKCS#11 module: it has no C_GetFunctionList",
                              "put the token vendor's PKCS#11 module at " + path));
        return;
    }
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV rv = getFunctionList(&list);
    if (rv != CKR_OK || !list) {
        checks.push_back(make(id, CheckStatus::Fail,
                              path + ": C_GetFunctionList answered " + rvText(rv) + (list ? "" : " with no list"),
                              "reinstall the token vendor's module at " + path));
        return;
    }
    // A module with gaps in its list must not take the doctor down with it.
    for (const auto& entry : {std::make_pair("C_Initialize", reinterpret_cast<void*>(list->C_Initialize)),
                              std::make_pair("C_Finalize", reinterpret_cast<void*>(list->C_Finalize)),
                              std::make_pair("C_GetSlotList", reinterpret_cast<void*>(list->C_GetSlotList))}) {
        if (!entry.second) {
            checks.push_back(make(id, CheckStatus::Fail,
                                  path + " is not a complete PKCS#11 module: its function list has no " + entry.first,
                                  "put the token vendor's PKCS#11 module at " + path));
            return;
        }
    }
    rv = list->C_Initialize(nullptr);
    if (rv != CKR_OK) {
        checks.push_back(make(id, CheckStatus::Fail, path + ": C_Initialize answered " + rvText(rv),
                              "the module cannot start: reinstall the token's driver package, and make sure the "
                              "smart card service runs (sudo systemctl start pcscd)"));
        return;
    }
    checks.push_back(make(id, CheckStatus::Ok, path + " loads and starts (" + who + ")"));
    CK_ULONG count = 0;
    rv = list->C_GetSlotList(CK_TRUE, nullptr, &count);
    std::vector<CK_SLOT_ID> slots(count);
    if (rv == CKR_OK && count > 0)
        rv = list->C_GetSlotList(CK_TRUE, slots.data(), &count);
    slots.resize(rv == CKR_OK ? count : 0);
    if (rv != CKR_OK) {
        checks.push_back(make(tokenId, CheckStatus::Fail, path + ": C_GetSlotList answered " + rvText(rv),
                              "take the token out, put it back, and run the doctor again"));
    } else if (slots.empty()) {
        checks.push_back(make(tokenId, CheckStatus::Fail, "no token is inserted (no slot of " + path + " holds one)",
                              "insert the token"));
    } else if (!list->C_GetTokenInfo) {
        checks.push_back(make(tokenId, CheckStatus::Fail,
                              "a token is inserted, but " + path + " cannot describe it: its function list has no "
                              "C_GetTokenInfo",
                              "put the token vendor's PKCS#11 module at " + path));
    } else {
        // The first token that is set up; a reader with a blank card in it comes after.
        CK_TOKEN_INFO info{};
        CK_SLOT_ID slot = slots.front();
        std::size_t ready = 0;
        rv = CKR_TOKEN_NOT_RECOGNIZED;
        for (CK_SLOT_ID candidate : slots) {
            CK_TOKEN_INFO candidateInfo{};
            const CK_RV answer = list->C_GetTokenInfo(candidate, &candidateInfo);
            if (answer != CKR_OK) {
                if (rv != CKR_OK)
                    rv = answer;
                continue;
            }
            const bool setUp = (candidateInfo.flags & CKF_TOKEN_INITIALIZED) != 0;
            ready += setUp ? 1 : 0;
            if (rv != CKR_OK || (setUp && ready == 1 && !(info.flags & CKF_TOKEN_INITIALIZED))) {
                info = candidateInfo;
                slot = candidate;
                rv = CKR_OK;
            }
        }
        if (rv != CKR_OK)
            checks.push_back(make(tokenId, CheckStatus::Fail,
                                  "a token is inserted but cannot be read: C_GetTokenInfo answered " + rvText(rv),
                                  "take the token out, put it back, and run the doctor again"));
        else if (!(info.flags & CKF_TOKEN_INITIALIZED))
            checks.push_back(make(tokenId, CheckStatus::Fail, "the inserted token is blank (not initialised)",
                                  "insert a token that holds your keys"));
        else
            checks.push_back(make(tokenId, CheckStatus::Ok,
                                  "token \"" + label(info.label, sizeof info.label) + "\" in slot " +
                                      std::to_string(slot) +
                                      (ready > 1 ? " (" + std::to_string(ready) + " tokens)" : "")));
    }
    list->C_Finalize(nullptr);
}

void checkOriginFiles(const std::string& personPath, const std::string& machinePath, std::vector<Check>& checks) {
    struct File {
        const char* id;
        const char* whose;
        const std::string& path;
    };
    for (const File& file : {File{"origins.user", "your", personPath}, File{"origins.machine", "the machine's", machinePath}}) {
        if (file.path.empty()) {
            checks.push_back(make(file.id, CheckStatus::Warn,
                                  std::string("no folder for ") + file.whose + " allowed-origins file (HOME is not set)",
                                  "set HOME"));
            continue;
        }
        FB::Consent::AllowedOrigins origins(file.path);
        if (!origins.load()) {
            checks.push_back(make(file.id, CheckStatus::Fail,
                                  std::string("cannot read ") + file.whose + " allowed-origins file: " + origins.loadError() +
                                      "; every page is refused while it cannot be read",
                                  unreadableOriginsFix(file.path, std::string(file.id) == "origins.user")));
            continue;
        }
        const auto answers = origins.answers();
        std::string list;
        for (const auto& answer : answers)
            list += std::string(list.empty() ? "" : ", ") + (answer.second ? "allow " : "deny ") + answer.first;
        checks.push_back(make(file.id, CheckStatus::Ok,
                              file.path + (answers.empty() ? ": no answers yet" : ": " + list)));
    }
}

std::vector<Check> runChecks(const DoctorPlaces& places) {
    std::vector<Check> checks;
    platformChecks(places, checks);
    return checks;
}

void printChecks(const std::vector<Check>& checks, std::ostream& out) {
    int problems = 0;
    for (const Check& check : checks) {
        const std::string word = statusWord(check.status);
        out << word << std::string(6 - word.size(), ' ') << check.id << ": " << check.message << "\n";
        if (!check.fix.empty())
            out << "      fix: " << check.fix << "\n";
        problems += check.status == CheckStatus::Fail ? 1 : 0;
    }
    if (problems == 0)
        out << "Nothing is broken.\n";
    else
        out << problems << (problems == 1 ? " problem" : " problems") << " found.\n";
    out.flush();
}

void printChecksJson(const std::vector<Check>& checks, std::ostream& out) {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const Check& check : checks)
        all.push_back({{"id", check.id}, {"status", statusWord(check.status)}, {"message", check.message}, {"fix", check.fix}});
    // Paths that are not UTF-8 are shown with replacement characters rather than lost.
    out << all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
}

int doctorExitStatus(const std::vector<Check>& checks) {
    for (const Check& check : checks)
        if (check.status == CheckStatus::Fail)
            return 1;
    return 0;
}

bool parseDoctorArguments(const std::vector<std::string>& arguments, bool& json, std::string& error) {
    json = false;
    bool sawDoctor = false;
    for (const std::string& argument : arguments) {
        if (argument == "--doctor" && !sawDoctor) {
            sawDoctor = true;
        } else if (argument == "--json" && !json) {
            json = true;
        } else {
            error = "unknown argument \"" + argument + "\" (--doctor takes only --json)";
            return false;
        }
    }
    if (!sawDoctor) {
        error = "--json goes with --doctor";
        return false;
    }
    return true;
}

int runDoctor(bool json, std::ostream& out) {
    DoctorPlaces places;
    if (const char* root = std::getenv("ORVANTA_DOCTOR_ROOT"))
        places.systemRoot = root;
    out.flush();
    const std::intptr_t saved = setStandardOutputAside();
    std::vector<Check> checks;
    try {
        checks = runChecks(places);
    } catch (...) {
        restoreStandardOutput(saved);
        throw;
    }
    restoreStandardOutput(saved);
    if (json)
        printChecksJson(checks, out);
    else
        printChecks(checks, out);
    return doctorExitStatus(checks);
}

}} // namespace orv::host
