#pragma once
// The owner of one plug-in instance's token state. The plug-in object is that owner (it
// derives from this class); the scripting object only holds it weakly, so a page that keeps
// the scripting object does not keep the plug-in object alive.

#include "token/TokenState.h"

#include <memory>
#include <string>

namespace orv {

class TokenOwner {
public:
    TokenOwner() = default;
    virtual ~TokenOwner() = default;
    TokenOwner(const TokenOwner&) = delete;
    TokenOwner& operator=(const TokenOwner&) = delete;

    // Called at the start of every token method: empty when the page may go on (the owner
    // may load what waited for that answer), otherwise the script error the page gets.
    virtual std::string admitPage() { return std::string(); }

    TokenState& tokenState() { return tokenState_; }
    const TokenState& tokenState() const { return tokenState_; }

private:
    TokenState tokenState_;
};

using TokenOwnerPtr = std::shared_ptr<TokenOwner>;
using TokenOwnerWeakPtr = std::weak_ptr<TokenOwner>;

} // namespace orv
