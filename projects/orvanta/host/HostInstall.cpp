#include "HostInstall.h"

namespace orv { namespace host {

bool parseInstallArguments(const std::vector<std::string>& arguments, InstallRequest& request,
                           std::string& error) {
    bool sawMode = false;
    bool sawBrowser = false;
    bool sawScope = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--install" || argument == "--uninstall") {
            if (sawMode) {
                error = "give --install or --uninstall once";
                return false;
            }
            sawMode = true;
            request.install = argument == "--install";
        } else if (argument == "--user" || argument == "--system") {
            if (sawScope) {
                error = "give --user or --system once";
                return false;
            }
            sawScope = true;
            request.scope = argument == "--user" ? Scope::User : Scope::System;
        } else if (argument == "--browser") {
            if (i + 1 == arguments.size()) {
                error = "--browser needs a name: chromium, chrome or firefox";
                return false;
            }
            const std::string& name = arguments[++i];
            Browser browser;
            if (name == "chromium")
                browser = Browser::Chromium;
            else if (name == "chrome")
                browser = Browser::Chrome;
            else if (name == "firefox")
                browser = Browser::Firefox;
            else {
                error = "unknown browser \"" + name + "\": chromium, chrome or firefox";
                return false;
            }
            if (!sawBrowser)
                request.browsers.clear();
            sawBrowser = true;
            request.browsers.push_back(browser);
        } else {
            error = "unknown argument \"" + argument + "\"";
            return false;
        }
    }
    if (!sawMode) {
        error = "give --install or --uninstall";
        return false;
    }
    return true;
}

int runInstall(const InstallRequest& request, std::ostream& out, std::ostream& err) {
    const std::string path = executablePath();
    if (path.empty()) {
        err << "orvanta-host: cannot find the path of this program" << std::endl;
        return 1;
    }
    int status = 0;
    for (Browser browser : request.browsers) {
        std::string where;
        std::string error;
        const bool done = request.install
                              ? installManifest(browser, request.scope, hostManifest(browser, path), where, error)
                              : uninstallManifest(browser, request.scope, where, error);
        if (done) {
            out << (request.install ? "installed for " : "removed for ") << browserName(browser) << ": "
                << where << std::endl;
        } else {
            err << "orvanta-host: " << browserName(browser) << ": " << error << std::endl;
            status = 1;
        }
    }
    return status;
}

}} // namespace orv::host
