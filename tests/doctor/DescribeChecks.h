#pragma once
// The doctor's checks as one readable block, for a failing test's message.

#include "Doctor.h"

#include <string>
#include <vector>

inline std::string describe(const std::vector<orv::host::Check>& checks) {
    using orv::host::CheckStatus;
    std::string text;
    for (const orv::host::Check& c : checks)
        text += std::string(c.status == CheckStatus::Ok ? "ok   " : c.status == CheckStatus::Warn ? "warn " : "fail ") +
                c.id + ": " + c.message + (c.fix.empty() ? "" : " [fix: " + c.fix + "]") + "\n";
    return text;
}
