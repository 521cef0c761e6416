#include "PlatformModule.h"

#include "logging.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orv {

namespace {

thread_local std::uint32_t lastError = 0;

void remember(int error, const char* what, const std::string& name) {
    // dlopen does not promise errno; keep a non-zero code so the box never shows success.
    lastError = static_cast<std::uint32_t>(error != 0 ? error : EINVAL);
    const char* reason = dlerror();
    FBLOG_WARN("PlatformModule", what << "(" << name << ") failed: "
                                      << (reason ? reason : std::strerror(error)));
}

std::string baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Path of a loaded object (not the executable itself) whose file name is `fileName`.
std::string loadedPathOf(const std::string& fileName) {
    struct Search {
        const std::string* fileName;
        std::string found;
    } search{&fileName, std::string()};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) -> int {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name)
                return 0;
            if (baseName(info->dlpi_name) != *s->fileName)
                return 0;
            s->found = info->dlpi_name;
            return 1;
        },
        &search);
    return search.found;
}

} // namespace

char pathSeparator() { return '/'; }

ModuleHandle loadModule(const std::string& pathOrName) {
    errno = 0;
    void* module = dlopen(pathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        int error = errno;
        // dlopen need not leave errno set: a file that is missing says ENOENT, one that
        // exists but is no loadable module ENOEXEC.
        if (error == 0 && pathOrName.find('/') != std::string::npos)
            error = access(pathOrName.c_str(), F_OK) != 0 ? errno : ENOEXEC;
        remember(error, "dlopen", pathOrName);
    }
    return module;
}

ModuleHandle findLoadedModule(const std::string& pathOrName) {
    std::string path = pathOrName;
    if (path.find('/') == std::string::npos) {
        path = loadedPathOf(pathOrName);
        if (path.empty()) {
            lastError = ENOENT;
            return nullptr;
        }
    }
    errno = 0;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!module) {
        lastError = static_cast<std::uint32_t>(errno != 0 ? errno : ENOENT);
        dlerror();  // not loaded is an answer, not a failure worth a log line
        return nullptr;
    }
    // RTLD_NOLOAD still counts a reference; give it back so the lookup takes none. The
    // module stays loaded through the reference that made it appear in the process.
    dlclose(module);
    return module;
}

std::string loadedModulePath(const std::string& fileName) {
    return loadedPathOf(fileName);
}

std::size_t ownModulePath(const std::string& fileName, std::string& path, bool& truncated) {
    const std::size_t asked = kModulePathCapacity - 1;
    std::string loaded = loadedPathOf(fileName);
    if (!loaded.empty()) {
        // A browser may load the plug-in through a link in its own plug-in folder (a
        // package links /usr/lib/mozilla/plugins/ to the one installed copy); the modules
        // that go with it live beside the file itself, so the folder counted is the real one.
        if (char* real = realpath(loaded.c_str(), nullptr)) {
            loaded = real;
            std::free(real);
        }
        truncated = loaded.size() > asked;
        path = loaded.substr(0, asked);
        return path.size();
    }
    char buffer[kModulePathCapacity] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, asked);
    if (length <= 0) {
        remember(errno, "readlink", "/proc/self/exe");
        truncated = false;
        path.clear();
        return 0;
    }
    // readlink does not say whether it cut the path; a full buffer may have been cut.
    truncated = static_cast<std::size_t>(length) >= asked;
    path.assign(buffer, static_cast<std::size_t>(length));
    return path.size();
}

std::size_t pathCharacters(const std::string& path) {
    return path.size();
}

void* moduleSymbol(ModuleHandle module, const char* name) {
    if (!module)
        return nullptr;
    dlerror();
    void* symbol = dlsym(module, name);
    if (!symbol)
        remember(ENOENT, "dlsym", name);
    return symbol;
}

void freeModule(ModuleHandle module) {
    if (module)
        dlclose(module);
}

std::uint32_t lastModuleError() {
    return lastError;
}

std::uint32_t pathTooLongError() {
    return ENAMETOOLONG;
}

} // namespace orv
