#pragma once
// --doctor: walks every link between a page and the token on this machine, in the order a
// call travels them, and says for each what is wrong and the exact fix.

#include "HostManifest.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace orv { namespace host {

enum class CheckStatus { Ok, Warn, Fail };

struct Check {
    std::string id;      // stable, for scripts: "manifest.chromium.user", "module.host", ...
    CheckStatus status = CheckStatus::Ok;
    std::string message; // what was found
    std::string fix;     // the command or path that mends it; empty when nothing is to be done
};

// Where the doctor looks. The user's folders come from the environment (HOME,
// XDG_CONFIG_HOME, APPDATA, ...), as the browsers and the host read them.
struct DoctorPlaces {
    // Put in front of every machine-wide path on Linux (/etc, /usr, /opt, /snap), so a test
    // can build a machine in a temporary folder. Empty: this machine's own. orvanta-host
    // takes it from ORVANTA_DOCTOR_ROOT, which only the tests set.
    std::string systemRoot;
    // The host program whose folder holds the vendor module (links are followed, as the host
    // does); the running program when empty.
    std::string hostProgram;
};

std::vector<Check> runChecks(const DoctorPlaces& places);

// One line a check ("ok    id: message", then "      fix: ..." when there is one) and a
// closing line with the count of problems.
void printChecks(const std::vector<Check>& checks, std::ostream& out);
// [{"id": ..., "status": "ok"|"warn"|"fail", "message": ..., "fix": ...}, ...]
void printChecksJson(const std::vector<Check>& checks, std::ostream& out);
// 1 when a check failed, else 0.
int doctorExitStatus(const std::vector<Check>& checks);

// Parses "--doctor [--json]"; false with a message for anything else.
bool parseDoctorArguments(const std::vector<std::string>& arguments, bool& json, std::string& error);
// The whole command: this machine's places (ORVANTA_DOCTOR_ROOT re-roots them), the report
// on `out`; returns the exit status.
int runDoctor(bool json, std::ostream& out);

// ---- Pieces shared by the platform checks (Doctor.cpp) ----

// The checks of one host manifest read from `where` for `browser`: a JSON object naming this
// host, a program that exists, and the extension's id. `fix` is the command that writes a
// sound one. A sound manifest's program goes to *program.
Check checkManifestText(Browser browser, const std::string& id, const std::string& where,
                        const std::string& text, const std::string& fix, std::string* program = nullptr);

// Loads the vendor module at `path` (for `who`: "orvanta-host", "the NPAPI plug-in ..."),
// asks it for its function list, initialises it, lists the slots with a token and reads the
// first token's label, then finalises it. Never logs in. Adds "module.<idSuffix>" and, when
// the module started, "token.<idSuffix>".
void checkVendorModule(const std::string& path, const std::string& who, const std::string& idSuffix,
                       std::vector<Check>& checks);

// The whole file; false when it cannot be read, with why in `error` (empty for a missing one).
bool readTextFile(const std::string& path, std::string& text, std::string& error);

// The extension in each profile of `browser` under `folder` (Chromium's user data folder,
// Firefox's folder of profiles): installed and switched on.
void checkBrowserProfiles(Browser browser, const std::string& folder, std::vector<Check>& checks);

// The person's and the administrator's allowed-origins files.
void checkOriginFiles(const std::string& personPath, const std::string& machinePath, std::vector<Check>& checks);

// ---- Platform parts (Posix/DoctorPosix.cpp, Win/DoctorWin.cpp) ----

// The checks in order; calls the shared pieces above.
void platformChecks(const DoctorPlaces& places, std::vector<Check>& checks);

// dlopen / LoadLibrary with the system's reason on failure.
void* openVendorModule(const std::string& path, std::string& error);
void* vendorModuleSymbol(void* module, const char* name);
// While the checks run, what a vendor module prints goes to standard error: standard
// output carries only the report (a script parses the JSON). Returns what restores it.
std::intptr_t setStandardOutputAside();
void restoreStandardOutput(std::intptr_t saved);
// Empty when `path` is a program this user can run; else why not.
std::string whyNotRunnable(const std::string& path);

}} // namespace orv::host
