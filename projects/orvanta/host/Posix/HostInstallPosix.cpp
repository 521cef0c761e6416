#include "HostInstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace orv { namespace host {

namespace {

std::string configHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return config;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config";
    return std::string();
}

std::string home() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : std::string();
}

// The folder each browser reads host manifests from (empty when there is no home).
std::string manifestFolder(Browser browser, Scope scope) {
    if (scope == Scope::System) {
        switch (browser) {
        case Browser::Chromium:
            return "/etc/chromium/native-messaging-hosts";
        case Browser::Chrome:
            return "/etc/opt/chrome/native-messaging-hosts";
        case Browser::Edge:
            return "/etc/opt/edge/native-messaging-hosts";
        case Browser::Firefox:
            return "/usr/lib/mozilla/native-messaging-hosts";
        }
    }
    const std::string config = configHome();
    switch (browser) {
    case Browser::Chromium:
        return config.empty() ? config : config + "/chromium/NativeMessagingHosts";
    case Browser::Chrome:
        return config.empty() ? config : config + "/google-chrome/NativeMessagingHosts";
    case Browser::Edge:
        return config.empty() ? config : config + "/microsoft-edge/NativeMessagingHosts";
    case Browser::Firefox:
        return home().empty() ? std::string() : home() + "/.mozilla/native-messaging-hosts";
    }
    return std::string();
}

} // namespace

std::string manifestPath(Browser browser, Scope scope) {
    const std::string folder = manifestFolder(browser, scope);
    return folder.empty() ? folder : folder + "/" + kHostName + ".json";
}

std::string executablePath() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

bool onlyAdministratorsCanChange(const std::string& programPath, std::string& problem) {
    // The program itself, then each folder up to the root. lstat: a link is judged as the
    // entry it is (its folder decides who may change it), and /proc/self/exe has no links
    // left in the path.
    std::string path = programPath;
    for (;;) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            problem = "cannot examine " + path + ": " + std::strerror(errno);
            return false;
        }
        if (info.st_uid != 0) {
            problem = path + " is owned by user " + std::to_string(info.st_uid) + ", not by root";
            return false;
        }
        if (!S_ISLNK(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH))) {
            problem = path + " can be changed by " + ((info.st_mode & S_IWOTH) ? "every user" : "its group");
            return false;
        }
        if (path == "/")
            return true;
        const std::size_t slash = path.find_last_of('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
}

bool installManifest(Browser browser, Scope scope, const std::string& manifest, std::string& where,
                     std::string& error) {
    where = manifestPath(browser, scope);
    if (where.empty()) {
        error = "no home folder to install into (HOME is not set)";
        return false;
    }
    std::error_code failure;
    fs::create_directories(fs::path(where).parent_path(), failure);
    if (failure) {
        error = "cannot create " + fs::path(where).parent_path().string() + ": " + failure.message();
        return false;
    }
    std::ofstream out(where, std::ios::binary | std::ios::trunc);
    out << manifest;
    out.close();
    if (!out) {
        error = "cannot write " + where + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool uninstallManifest(Browser browser, Scope scope, std::string& where, std::string& error) {
    where = manifestPath(browser, scope);
    if (where.empty()) {
        error = "no home folder to remove from (HOME is not set)";
        return false;
    }
    std::error_code failure;
    if (!fs::remove(where, failure) && !failure)
        where += " (was not installed)";
    if (failure) {
        error = "cannot remove " + where + ": " + failure.message();
        return false;
    }
    return true;
}

}} // namespace orv::host
