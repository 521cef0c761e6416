// Writes the Windows installer's registry rows and native messaging manifests at build time,
// from the same sources the built programs use: the DLL's registry scripts (read by the
// same reader DllRegisterServer uses) and the host's manifest writer. The installer and
// regsvr32, or the installer and `orvanta-host --install`, can then not drift apart.
//
//   orv-msi-rows registry [--var NAME=VALUE]... [--only HKCR|HKCU] SCRIPT...
//       WiX <RegistryValue> elements, one a line, for the inside of a <Component>.
//       Every root is written under HKMU (HKLM for a per-machine install, HKCU for a
//       per-user one); the classes root goes below Software\Classes of either.
//   orv-msi-rows manifest chromium|firefox HOSTPATH
//       The host's manifest for that browser family.

#include "HostManifest.h"
#include "RegistryScript.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using FB::Atl::RegKeyFlag;
using FB::Atl::RegNode;

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// Text in the installer's formatted columns: [ and ] open property references there, so
// a literal one is written as [\[] or [\]]. Values that name the installed module carry
// a reference on purpose and are passed through untouched (they come from --var).
std::string formattedLiteral(const std::string& text, const std::vector<std::string>& references) {
    std::string out;
    for (std::string::size_type i = 0; i < text.size();) {
        bool matched = false;
        for (const std::string& reference : references) {
            if (!reference.empty() && text.compare(i, reference.size(), reference) == 0) {
                out += reference;
                i += reference.size();
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (text[i] == '[')
            out += "[\\[]";
        else if (text[i] == ']')
            out += "[\\]]";
        else
            out += text[i];
        ++i;
    }
    return out;
}

struct Writer {
    std::ostream& out;
    std::vector<std::string> references;
    std::string error;

    void value(const std::string& key, const std::string* name, const RegNode& node) {
        out << "<RegistryValue Root=\"HKMU\" Key=\"" << xmlEscape(key) << "\"";
        if (name)
            out << " Name=\"" << xmlEscape(*name) << "\"";
        if (node.type == 'd')
            out << " Type=\"integer\" Value=\"" << node.dword << "\"/>\n";
        else
            out << " Type=\"string\" Value=\"" << xmlEscape(formattedLiteral(node.text, references)) << "\"/>\n";
    }

    // A key the script makes without a value of its own. "*" makes it at install and takes
    // it away with everything below at uninstall (the script's ForceRemove); "+" only
    // makes it (the installer removes it with the values below it, or its ForceRemove
    // parent takes it).
    void bareKey(const std::string& key, bool removeTree) {
        out << "<RegistryValue Root=\"HKMU\" Key=\"" << xmlEscape(key) << "\" Name=\"" << (removeTree ? "*" : "+")
            << "\" Type=\"string\" Value=\"\"/>\n";
    }

    // True when the subtree holds a value, which makes the key on its own.
    static bool holdsValue(const RegNode& node) {
        if (node.hasValue)
            return true;
        for (const RegNode& child : node.children)
            if (holdsValue(child))
                return true;
        return false;
    }

    static bool hasSubkey(const RegNode& node) {
        for (const RegNode& child : node.children)
            if (!child.isValue)
                return true;
        return false;
    }

    void keys(const std::string& parent, const std::vector<RegNode>& nodes) {
        for (const RegNode& node : nodes) {
            if (node.isValue) {
                value(parent, &node.name, node);
                continue;
            }
            if (node.flag == RegKeyFlag::Delete) {
                error = "the script deletes the key " + parent + "\\" + node.name +
                        " at registration; the installer's rows only add keys";
                return;
            }
            const std::string key = parent.empty() ? node.name : parent + "\\" + node.name;
            if (node.flag == RegKeyFlag::ForceRemove)
                bareKey(key, true);
            else if (node.flag == RegKeyFlag::None && !holdsValue(node) && !hasSubkey(node))
                bareKey(key, false);
            if (node.hasValue)
                value(key, nullptr, node);
            keys(key, node.children);
            if (!error.empty())
                return;
        }
    }
};

int usage() {
    std::cerr << "usage: orv-msi-rows registry [--var NAME=VALUE]... [--only ROOT] SCRIPT...\n"
                 "       orv-msi-rows manifest chromium|firefox HOSTPATH\n";
    return 2;
}

int registry(const std::vector<std::string>& arguments) {
    FB::Atl::RegVariables variables;
    std::vector<std::string> references;
    std::vector<std::string> scripts;
    std::string only;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if ((arguments[i] == "--var" || arguments[i] == "--only") && i + 1 < arguments.size()) {
            const std::string& argument = arguments[++i];
            if (arguments[i - 1] == "--only") {
                only = argument;
                continue;
            }
            const std::string::size_type equals = argument.find('=');
            if (equals == std::string::npos || equals == 0) {
                std::cerr << "orv-msi-rows: --var takes NAME=VALUE, not '" << argument << "'\n";
                return 2;
            }
            variables[argument.substr(0, equals)] = argument.substr(equals + 1);
            references.push_back(argument.substr(equals + 1));
        } else if (arguments[i].compare(0, 2, "--") == 0) {
            return usage();
        } else {
            scripts.push_back(arguments[i]);
        }
    }
    if (scripts.empty())
        return usage();
    // Longest first, so a reference that holds another is kept whole.
    std::sort(references.begin(), references.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    std::ostringstream rows;
    Writer writer{rows, references, std::string()};
    for (const std::string& path : scripts) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) {
            std::cerr << "orv-msi-rows: cannot read " << path << "\n";
            return 1;
        }
        const FB::Atl::RegScript script = FB::Atl::parseRegistryScript(text.str(), variables);
        if (!script.ok()) {
            std::cerr << "orv-msi-rows: " << path << ": " << script.error << "\n";
            return 1;
        }
        for (const FB::Atl::RegRoot& root : script.roots) {
            if (!only.empty() && root.root != only)
                continue;
            std::string base;
            if (root.root == "HKCR")
                base = "Software\\Classes";
            else if (root.root != "HKCU") {
                std::cerr << "orv-msi-rows: " << path << ": the root " << root.root
                          << " has no place in a per-machine or per-user install\n";
                return 1;
            }
            writer.keys(base, root.keys);
            if (!writer.error.empty()) {
                std::cerr << "orv-msi-rows: " << path << ": " << writer.error << "\n";
                return 1;
            }
        }
    }
    std::cout << rows.str();
    return 0;
}

int manifest(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2)
        return usage();
    orv::host::Browser browser;
    if (arguments[0] == "chromium")
        browser = orv::host::Browser::Chromium;
    else if (arguments[0] == "firefox")
        browser = orv::host::Browser::Firefox;
    else
        return usage();
    std::cout << orv::host::hostManifest(browser, arguments[1]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty())
        return usage();
    const std::string command = arguments.front();
    arguments.erase(arguments.begin());
    if (command == "registry")
        return registry(arguments);
    if (command == "manifest")
        return manifest(arguments);
    return usage();
}
