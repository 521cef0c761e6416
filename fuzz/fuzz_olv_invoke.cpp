// The page's side of the root object: any method name (every member, and made-up ones),
// any number of arguments of any type, through invoke-by-name as the adapters call it.
// No token module is loaded, so the token methods convert their arguments and answer -51;
// "olvRepair" runs the whole software signature on whatever key and hash come in. The
// framework's errors (script errors, failed conversions, text the platform refuses) are the
// page's exceptions; anything else escaping is a finding.

#include "FuzzInput.h"
#include "JSExceptions.h"
#include "api/TokenOwner.h"
#include "api/orvantaAPI.h"
#include "utf8_tools.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

struct Page {
    std::shared_ptr<orv::TokenOwner> owner = std::make_shared<orv::TokenOwner>();
    std::shared_ptr<orv::orvantaAPI> api = std::make_shared<orv::orvantaAPI>(owner, nullptr);
    std::vector<std::string> members;

    Page() {
        api->getMemberNames(members);
        if (members.empty())
            std::abort();
    }
};

Page& page() {
    static Page* p = new Page;
    return *p;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Nothing here may start a program: no PIN or message dialog.
    setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
    page();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orv::fuzz::FuzzInput in(data, size);
    Page& p = page();
    while (!in.empty()) {
        const std::uint8_t pick = in.byte();
        const std::string name = pick < 240 ? p.members[pick % p.members.size()] : in.text();
        FB::VariantList args;
        const int count = in.byte() % 4;
        for (int i = 0; i < count; ++i)
            args.push_back(in.value());
        try {
            if (p.api->HasMethod(name)) {
                const FB::variant answer = p.api->Invoke(name, args);
                (void)answer.convert_cast<std::string>();
            } else if (p.api->HasProperty(name)) {
                (void)p.api->GetProperty(name);
                if (!args.empty())
                    p.api->SetProperty(name, args.front());
            } else {
                (void)p.api->Invoke(name, args);  // unknown: a clear error
            }
        } catch (const FB::script_error&) {
        } catch (const std::bad_cast&) {
        } catch (const FB::text_conversion_error&) {
        }
    }
    return 0;
}
