#include "HostInstall.h"

#include "utf8_tools.h"

namespace orv { namespace host {

namespace {

// The path as it can be shown: bytes that are not UTF-8 as \xNN.
std::string printable(const std::string& path) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c < 0x20 || c >= 0x80) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool isUtf8(const std::string& text) {
    try {
        FB::utf8_to_wstring(text);
        return true;
    } catch (const FB::text_conversion_error&) {
        return false;
    }
}

} // namespace

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
                error = "--browser needs a name: chromium, chrome, edge or firefox";
                return false;
            }
            const std::string& name = arguments[++i];
            Browser browser;
            if (name == "chromium")
                browser = Browser::Chromium;
            else if (name == "chrome")
                browser = Browser::Chrome;
            else if (name == "edge")
                browser = Browser::Edge;
            else if (name == "firefox")
                browser = Browser::Firefox;
            else {
                error = "unknown browser \"" + name + "\": chromium, chrome, edge or firefox";
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
    std::string path;
    try {
        path = executablePath();
    } catch (const FB::text_conversion_error&) {
        err << "orvanta-host: the path of this program is not valid Unicode text; the browsers' manifest cannot "
               "name it. Move the program to another folder."
            << std::endl;
        return 1;
    }
    if (path.empty()) {
        err << "orvanta-host: cannot find the path of this program" << std::endl;
        return 1;
    }
    if (request.install && !isUtf8(path)) {
        // The manifest is JSON, which holds only UTF-8 text: the browser could not find it.
        err << "orvanta-host: the path of this program is not UTF-8 text (" << printable(path)
            << "); the browsers' manifest cannot name it. Move the program to a folder whose name is UTF-8."
            << std::endl;
        return 1;
    }
    std::string problem;
    if (request.install && request.scope == Scope::System && !onlyAdministratorsCanChange(path, problem)) {
        err << "orvanta-host: not installed for every user: " << problem
            << ". Every user's browser would run this program and the token module beside it; put it in a "
               "folder only the administrator can change (and install for yourself with --user meanwhile)."
            << std::endl;
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
