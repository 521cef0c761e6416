// The registry-script reader fed any text: the module's own scripts are fixed, but the
// reader must not overrun or loop on a script cut short or mistyped. The same input reads
// the same way twice, a refused expansion gives no text, and a finished one leaves no
// variable behind.

#include "RegistryScript.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool sameNodes(const std::vector<FB::Atl::RegNode>& a, const std::vector<FB::Atl::RegNode>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const FB::Atl::RegNode& x = a[i];
        const FB::Atl::RegNode& y = b[i];
        if (x.name != y.name || x.isValue != y.isValue || x.flag != y.flag || x.hasValue != y.hasValue ||
            x.type != y.type || x.text != y.text || x.dword != y.dword || !sameNodes(x.children, y.children))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    // The variables the module replaces; their values hold no percent sign of their own.
    const FB::Atl::RegVariables variables = {
        {"APPID", "{B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}"},
        {"MODULE", "C:\\it''s\\nporvanta.dll"},
        {"MODULE_RAW", "C:\\it's\\nporvanta.dll"},
        {"LIBID", "{4E8D2A17-C6B3-4F90-A5E1-7B2D9C0F3A68}"},
        {"THREADING", "Apartment"},
    };

    std::string error;
    const std::string expanded = FB::Atl::expandRegistryVariables(script, variables, error);
    if (error.empty()) {
        std::size_t escaped = 0;
        for (std::size_t at = script.find("%%"); at != std::string::npos; at = script.find("%%", at + 2))
            ++escaped;
        // Only "%%" leaves a percent sign; every variable is gone.
        std::size_t left = 0;
        for (char c : expanded)
            left += c == '%';
        if (left > escaped)
            std::abort();
    } else if (!expanded.empty()) {
        std::abort();
    }

    const FB::Atl::RegScript first = FB::Atl::parseRegistryScript(script, variables);
    const FB::Atl::RegScript second = FB::Atl::parseRegistryScript(script, variables);
    if (first.error != second.error || first.roots.size() != second.roots.size())
        std::abort();
    for (std::size_t i = 0; i < first.roots.size(); ++i)
        if (first.roots[i].root != second.roots[i].root || !sameNodes(first.roots[i].keys, second.roots[i].keys))
            std::abort();
    return 0;
}
