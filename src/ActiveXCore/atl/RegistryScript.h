#pragma once
// The registry-script language that COM servers describe their keys in (".rgs"), read
// into a tree that the registry side applies in either direction. Reading is portable so
// that the language's corners (quotes, variables, keywords) are pinned without a registry.

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace FB {
namespace Atl {

enum class RegKeyFlag { None, NoRemove, ForceRemove, Delete };

struct RegNode {
    std::string name;
    bool isValue = false;     // "val Name = ..." rather than a key
    RegKeyFlag flag = RegKeyFlag::None;
    bool hasValue = false;    // a key's default value, or always for a named value
    char type = 's';          // 's' string, 'd' DWORD
    std::string text;         // the string, or the DWORD's text
    unsigned long dword = 0;
    std::vector<RegNode> children;
};

struct RegRoot {
    std::string root;         // the short form: HKCR, HKCU, HKLM, HKU, HKPD, HKDD, HKCC
    std::vector<RegNode> keys;
};

// Variable names are matched without regard to case.
struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using RegVariables = std::map<std::string, std::string, CaseInsensitiveLess>;

struct RegScript {
    std::vector<RegRoot> roots;
    std::string error;        // empty when the script was read in full
    bool ok() const { return error.empty(); }
};

// Replaces %NAME% from the variables and %% by one percent sign; an unknown name or an
// unclosed % is an error (reported in errorOut, the text returned is then empty).
std::string expandRegistryVariables(const std::string& script, const RegVariables& variables,
                                    std::string& errorOut);

// Expands the variables, then reads the script.
RegScript parseRegistryScript(const std::string& script, const RegVariables& variables);

} // namespace Atl
} // namespace FB
