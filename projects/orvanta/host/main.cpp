// orvanta-host: started by the browser for the orvanta extension, one process per page
// connection; serves the page's calls on standard input and output until the browser
// closes the port. With --install or --uninstall it registers itself with the browsers; --doctor
// checks every link between a page and the token.

#include "ConnectionLoop.h"
#include "Doctor.h"
#include "FactoryBase.h"
#include "HostInstall.h"
#include "NativeMessagingBrowserHost.h"
#include "NativeMessagingPlugin.h"
#include "OriginGate.h"
#include "ProductVersion.h"
#include "RequestDispatcher.h"
#include "api/TokenProbe.h"
#include "consent/PageConsent.h"
#include "pin/PinEntry.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace nm = FB::NativeMessaging;

const char kMimeType[] = "application/x-orvanta";

const char kUsage[] =
    "usage: orvanta-host --install [--browser chromium|chrome|edge|firefox] [--user|--system]\n"
    "       orvanta-host --uninstall [--browser chromium|chrome|edge|firefox] [--user|--system]\n"
    "       orvanta-host --doctor [--json]   checks every link to the token and names the fix\n"
    "Without these the browser starts it to serve the orvanta extension.\n";

int serve() {
    nm::FileOutputBuffer protocolBuffer(nm::prepareStandardStreams());
    std::ostream protocol(&protocolBuffer);
    const FB::FactoryBasePtr factory = FB::getFactoryInstance();
    // Each request is checked by the origin the browser names for it, before the plug-in
    // object sees it.
    orv::setPluginObjectsCheckOrigin(false);
    factory->globalPluginInitialize();
    auto host = std::make_shared<nm::NativeMessagingBrowserHost>();
    int status = 0;
    {
        // The page's plug-in instance: made on the first request a permitted page sends (its
        // window attach loads the token module), shut down when the port closes.
        std::unique_ptr<nm::NativeMessagingPlugin> plugin;
        nm::RequestDispatcher dispatcher(
            [&] {
                plugin = std::make_unique<nm::NativeMessagingPlugin>(host, kMimeType);
                return plugin->getRootJSAPI();
            },
            orv::processOriginGate(), [](const std::string& origin) { orv::setPinRequestOrigin(origin); });
        // The extension compares this with its own version: both come from one build.
        dispatcher.setStatusSource(ORV_PRODUCT_VERSION, orv::probeTokenQuietly);
        status = nm::serveConnection(std::cin, protocol, dispatcher, std::cerr,
                                     [&host] { host->runPendingCalls(); });
        if (plugin)
            plugin->shutdown();
    }
    host->shutdown();
    factory->globalPluginDeinitialize();
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
        if (arguments[0] == "--doctor" || arguments[0] == "--json") {
            bool json = false;
            std::string error;
            if (!orv::host::parseDoctorArguments(arguments, json, error)) {
                std::cerr << "orvanta-host: " << error << "\n" << kUsage;
                return 2;
            }
            try {
                return orv::host::runDoctor(json, std::cout);
            } catch (const std::exception& e) {
                std::cerr << "orvanta-host: " << e.what() << std::endl;
                return 1;
            }
        }
        orv::host::InstallRequest request;
        std::string error;
        if (!orv::host::parseInstallArguments(arguments, request, error)) {
            std::cerr << "orvanta-host: " << error << "\n" << kUsage;
            return 2;
        }
        try {
            return orv::host::runInstall(request, std::cout, std::cerr);
        } catch (const std::exception& e) {
            std::cerr << "orvanta-host: " << e.what() << std::endl;
            return 1;
        }
    }
    // The browsers pass the caller's origin (Chromium, and --parent-window on Windows) or
    // the manifest path and extension id (Firefox); the page's own origin comes with every
    // request instead.
    return serve();
}
