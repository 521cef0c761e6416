// orvanta-host: started by the browser for the orvanta extension, one process per page
// connection; serves the page's calls on standard input and output until the browser
// closes the port. With --install or --uninstall it registers itself with the browsers.

#include "ConnectionLoop.h"
#include "ConnectionPlugin.h"
#include "HostInstall.h"
#include "NativeMessagingBrowserHost.h"
#include "OriginGate.h"
#include "RequestDispatcher.h"
#include "pin/OriginPrompt.h"
#include "pin/PinEntry.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace nm = FB::NativeMessaging;

const char kUsage[] =
    "usage: orvanta-host --install [--browser chromium|chrome|firefox] [--user|--system]\n"
    "       orvanta-host --uninstall [--browser chromium|chrome|firefox] [--user|--system]\n"
    "Without these the browser starts it to serve the orvanta extension.\n";

// The allowed-origins file: ORVANTA_ALLOWED_ORIGINS when set (administrators and tests),
// else the one in the user's config folder.
std::string allowedOriginsPath() {
    const char* named = std::getenv("ORVANTA_ALLOWED_ORIGINS");
    return named && *named ? std::string(named) : nm::defaultAllowedOriginsPath();
}

nm::PromptAnswer askPerson(const std::string& origin) {
    switch (orv::askOriginPermission(origin)) {
    case orv::OriginAnswer::Allow:
        return nm::PromptAnswer::Allow;
    case orv::OriginAnswer::Deny:
        return nm::PromptAnswer::Deny;
    case orv::OriginAnswer::NoAnswer:
        break;
    }
    return nm::PromptAnswer::NoAnswer;
}

int serve() {
    nm::prepareStandardStreams();
    auto host = std::make_shared<nm::NativeMessagingBrowserHost>();
    int status = 0;
    {
        // Made on the first request a permitted page sends; released when the port closes.
        std::unique_ptr<orv::host::ConnectionPlugin> plugin;
        nm::AllowedOrigins origins(allowedOriginsPath());
        nm::OriginGate gate(origins, askPerson);
        nm::RequestDispatcher dispatcher(
            [&] {
                plugin = std::make_unique<orv::host::ConnectionPlugin>(host);
                return plugin->root();
            },
            gate, [](const std::string& origin) { orv::setPinRequestOrigin(origin); });
        status = nm::serveConnection(std::cin, std::cout, dispatcher, std::cerr,
                                     [&host] { host->runPendingCalls(); });
    }
    host->shutdown();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (!arguments.empty() && arguments[0].compare(0, 2, "--") == 0 &&
        arguments[0].compare(0, 16, "--parent-window=") != 0) {
        orv::host::InstallRequest request;
        std::string error;
        if (!orv::host::parseInstallArguments(arguments, request, error)) {
            std::cerr << "orvanta-host: " << error << "\n" << kUsage;
            return 2;
        }
        return orv::host::runInstall(request, std::cout, std::cerr);
    }
    // The browsers pass the caller's origin (Chromium, and --parent-window on Windows) or
    // the manifest path and extension id (Firefox); the page's own origin comes with every
    // request instead.
    return serve();
}
