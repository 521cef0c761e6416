#pragma once
// One page's walk through every olv method against the Windows vendor module's double (a
// token in memory), as the NPAPI host test and the ActiveX container test both run it: both
// adapters must answer a page identically, so both read the same table.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace orv { namespace test {

// The page origins the person answered for in these tests: the page's own site allowed, the
// one below denied; the administrator's file missing.
inline const std::string kDeniedOrigin = "https://evil.orvanta.test";

// Writes those answers to a file of this process in the temporary folder, names it (and a
// missing administrator's file) to the plug-in, and returns its path. The plug-in reads the
// variables when it first checks a page, so this comes before any plug-in is made.
inline std::string answerTestOrigins(const char* prefix) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string process = std::to_string(GetCurrentProcessId()) + ".txt";
    const std::string path = std::string(folder) + prefix + process;
    if (std::FILE* origins = std::fopen(path.c_str(), "wb")) {
        std::fprintf(origins, "allow https://bank.orvanta.test\ndeny %s\n", kDeniedOrigin.c_str());
        std::fclose(origins);
    }
    _putenv(("ORVANTA_ALLOWED_ORIGINS=" + path).c_str());
    _putenv(("ORVANTA_MACHINE_ALLOWED_ORIGINS=" + std::string(folder) + "orvanta-no-machine-origins-" + process).c_str());
    return path;
}

// A script argument: a string or a number, as a page passes it (numbers always as double).
struct PageArg {
    PageArg(const char* s) : isText(true), text(s) {}
    PageArg(std::string s) : isText(true), text(std::move(s)) {}
    PageArg(double d) : isText(false), number(d) {}
    bool isText;
    std::string text;
    double number = 0;
};

// kind: 's' a string equal to text, 'd' a number equal to number, 'b' a boolean equal to
// number != 0.
struct PageStep {
    const char* method;
    std::vector<PageArg> args;
    char kind;
    double number;
    std::string text;
};

inline std::string upperHex(const unsigned char* bytes, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

// The double's public value of a container: byte i is (i * 7 + the sum of the name's bytes).
inline std::vector<unsigned char> vendorTokenValue(const std::string& name) {
    unsigned sum = 0;
    for (unsigned char c : name)
        sum += c;
    std::vector<unsigned char> value(64);
    for (unsigned i = 0; i < 64; ++i)
        value[i] = static_cast<unsigned char>(i * 7 + sum);
    return value;
}

// The page's key text: X and Y, each most significant byte first (the token has them
// least significant first).
inline std::string vendorPagePublicKey(const std::string& name) {
    std::vector<unsigned char> v = vendorTokenValue(name);
    std::vector<unsigned char> page(v.rbegin() + 32, v.rend());
    page.insert(page.end(), v.rbegin(), v.rbegin() + 32);
    return upperHex(page.data(), page.size());
}

constexpr const char* kPageHash = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";

// The walk starts with the module loaded, nobody logged in and no container on the token.
// Afterwards the companion has been asked for the PIN kPagePinPrompts times (each key pair,
// signature and destruction asked for while logged out - missing containers included, the
// search for the private key needs the login - and the first login; none for the refusals
// decided before the token is asked) and the double has signed once.
constexpr int kPagePinPrompts = 7;
constexpr int kPageTokenSignatures = 1;

inline std::vector<PageStep> vendorPageSteps() {
    const std::string name = "Container A";
    const std::string hash = kPageHash;
    const std::vector<unsigned char> value = vendorTokenValue(name);
    // The token is handed the hash bytes in reverse; the page gets the halves swapped.
    const std::string signature =
        upperHex(value.data(), 32) + "1F1E1D1C1B1A191817161514131211100F0E0D0C0B0A09080706050403020100";
    return {
        {"get_version", {}, 's', 0, "1.1"},
        {"olvIsTokenPresentAndOK", {}, 'b', 1, ""},
        {"olvIsUserLoggedIn", {}, 'd', -2, ""},
        {"olvGetNumberOfContainers", {}, 'd', 0, ""},
        {"olvGetContainerName", {0.0}, 'd', -20, ""},
        {"olvGenKeyPair", {""}, 'd', -11, ""},
        {"olvGenKeyPair", {"repair key"}, 'd', -10, ""},
        {"olvGenKeyPair", {name}, 's', 0, vendorPagePublicKey(name)},
        {"olvIsUserLoggedIn", {}, 'd', -2, ""},  // logged out again after the pair was made
        {"olvGenKeyPair", {name}, 'd', -21, ""},
        {"olvGetNumberOfContainers", {}, 'd', 1, ""},
        {"olvGetContainerName", {0.0}, 's', 0, name},
        {"olvGetPublicKey", {name}, 's', 0, vendorPagePublicKey(name)},
        {"olvGetPublicKey", {"no such container"}, 'd', -20, ""},
        {"olvGetPublicKey", {"repair key"}, 'd', -20, ""},
        {"olvSign", {name, hash.substr(1)}, 'd', -11, ""},
        {"olvSign", {name, hash + "0"}, 'd', -11, ""},
        {"olvSign", {name, hash}, 's', 0, signature},
        {"olvSign", {"no such container", hash}, 'd', -20, ""},
        {"olvUserLoginDlg", {}, 'b', 1, ""},
        {"olvIsUserLoggedIn", {}, 'b', 1, ""},
        {"olvUserLoginDlg", {}, 'b', 1, ""},  // already logged in: no prompt
        {"olvLogout", {}, 'b', 1, ""},
        {"olvLogout", {}, 'b', 1, ""},
        {"olvIsUserLoggedIn", {}, 'd', -2, ""},
        {"olvDestroyContainer", {""}, 'd', -11, ""},
        {"olvDestroyContainer", {name}, 'b', 1, ""},
        {"olvDestroyContainer", {name}, 'd', -20, ""},
        {"olvGetNumberOfContainers", {}, 'd', 0, ""},
        {"olvRepair", {"KMBN", hash}, 'd', -11, ""},
        {"olvRepair", {std::string(64, 'K'), hash.substr(2)}, 'd', -11, ""},
    };
}

}} // namespace orv::test
