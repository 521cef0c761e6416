#include "Doctor.h"

#include "AllowedOrigins.h"

#include <p11-kit/pkcs11.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

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

} // namespace

Check checkManifestText(Browser browser, const std::string& id, const std::string& where, const std::string& text,
                        const std::string& fix) {
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
    const std::string program = path->get<std::string>();
    // Chromium and Firefox take a relative path as relative to the manifest's folder (Windows
    // only); on Linux it must be absolute.
    std::filesystem::path programPath = std::filesystem::u8path(program);
    if (programPath.is_relative()) {
#ifdef _WIN32
        programPath = std::filesystem::u8path(where).parent_path() / programPath;
#else
        return make(id, CheckStatus::Fail, where + " names the program by a relative path (" + program + ")", fix);
#endif
    }
    const std::string problem = whyNotRunnable(programPath.u8string());
    if (!problem.empty())
        return make(id, CheckStatus::Fail, where + " names the program " + program + ", which " + problem, fix);
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
    return make(id, CheckStatus::Ok, where + " starts " + program);
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
    const std::vector<Check> checks = runChecks(places);
    if (json)
        printChecksJson(checks, out);
    else
        printChecks(checks, out);
    return doctorExitStatus(checks);
}

}} // namespace orv::host
