// What a browser (or anything that can start the host) writes to orvanta-host: framed
// messages of any length and content, served to the end as one connection. Every answer
// the host writes must be a well-formed frame of at most 1 MB holding a JSON object, and
// the connection must end with the exit status the protocol calls for.

#include "AllowedOrigins.h"
#include "ConnectionLoop.h"
#include "NativeMessageFrame.h"
#include "OriginGate.h"
#include "RequestDispatcher.h"
#include "api/TokenOwner.h"
#include "api/orvantaAPI.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// The page origin the person already allowed; every other origin is refused or unknown,
// and its prompt has no answer (so the origins file never grows during a run; the origins
// it holds back are forgotten before each input).
const char* const kAllowed = "https://fuzz.example";

std::string& originsFile() {
    static std::string* path = [] {
        char dir[] = "/tmp/orvanta-fuzz-origins.XXXXXX";
        if (!mkdtemp(dir))
            std::abort();
        auto* p = new std::string(std::string(dir) + "/allowed-origins");
        std::ofstream(*p) << "allow " << kAllowed << "\ndeny https://denied.example\n";
        return p;
    }();
    return *path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
    originsFile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace FB::NativeMessaging;
    using namespace FB::Consent;
    std::remove((originsFile() + ".dismissed").c_str());
    AllowedOrigins list(originsFile());
    list.load();
    OriginGate gate(list, [](const std::string&) { return PromptAnswer::NoAnswer; });
    auto owner = std::make_shared<orv::TokenOwner>();
    RequestDispatcher dispatcher([owner] { return std::make_shared<orv::orvantaAPI>(owner, nullptr); }, gate);

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out, diagnostics;
    const int status = serveConnection(in, out, dispatcher, diagnostics);
    if (status != 0 && status != 1)
        std::abort();

    // Every answer: a frame, at most 1 MB, a JSON object with an id and at most one of result
    // and error (no result stands for undefined, which JSON cannot hold).
    std::istringstream answers(out.str());
    std::string message;
    for (;;) {
        const ReadResult r = readFrame(answers, message, kMaxMessageToBrowser);
        if (r == ReadResult::End)
            break;
        if (r != ReadResult::Message)
            std::abort();
        const nlohmann::json answer = nlohmann::json::parse(message, nullptr, false);
        if (!answer.is_object() || !answer.contains("id") || (answer.contains("result") && answer.contains("error")))
            std::abort();
    }
    return 0;
}
