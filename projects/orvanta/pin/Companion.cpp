#include "pin/Companion.h"

#include "ModuleNames.h"
#include "logging.h"

namespace orv {

std::string companionPath(const std::string& baseName) {
    std::string path;
    bool truncated = false;
    if (ownModulePath(moduleFileName("nporvanta"), path, truncated) == 0 || truncated)
        return std::string();
    const std::string::size_type separator = path.rfind(pathSeparator());
    if (separator == std::string::npos)
        return std::string();
    path.erase(separator + 1);
    return path + moduleFileName(baseName);
}

ModuleHandle loadCompanion(const std::string& baseName) {
    // Already in the process: the same module again, by its own full path.
    std::string path = loadedModulePath(moduleFileName(baseName));
    if (path.empty())
        path = companionPath(baseName);
    if (path.empty()) {
        FBLOG_WARN("Companion", "no folder to look for " << baseName << " in");
        return nullptr;
    }
    return loadModule(path);
}

} // namespace orv
