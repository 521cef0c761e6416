#include "AllowedOrigins.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace FB { namespace Consent {

std::string defaultAllowedOriginsPath() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return std::string();
    return base + "/orvanta/allowed-origins";
}

std::string machineAllowedOriginsPath() {
    return "/etc/orvanta/allowed-origins";
}

namespace origins_file {

namespace {

std::string failure(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

ReadResult readWhole(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // A file where a folder of the path should be: there is no list either.
        if (errno == ENOENT || errno == ENOTDIR)
            return ReadResult::Missing;
        error = std::strerror(errno);
        return ReadResult::Failed;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file";
        close(fd);
        return ReadResult::Failed;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            text.clear();
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return ReadResult::Read;
}

bool makePrivateFolders(const std::string& folder, std::string& error) {
    if (folder.empty())
        return true;
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return true;
        errno = ENOTDIR;
        error = failure("cannot use the folder", folder);
        return false;
    }
    // The missing parents first, each made private (0700): which sites use the token is
    // nobody else's business.
    const std::size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makePrivateFolders(folder.substr(0, slash), error))
        return false;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = failure("cannot create the folder", folder);
        return false;
    }
    return true;
}

bool replacePrivately(const std::string& path, const std::string& text, std::string& error) {
    // mkstemp makes the file 0600 under a name no other writer has.
    std::vector<char> name(path.begin(), path.end());
    const char suffix[] = ".XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = failure("cannot create a file beside", path);
        return false;
    }
    const bool written = writeAll(fd, text) && fsync(fd) == 0;
    const int savedErrno = errno;
    if (close(fd) != 0 || !written) {
        errno = written ? errno : savedErrno;
        error = failure("cannot write", name.data());
        unlink(name.data());
        return false;
    }
    if (rename(name.data(), path.c_str()) != 0) {
        error = failure("cannot replace", path);
        unlink(name.data());
        return false;
    }
    return true;
}

std::intptr_t lockExclusive(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = failure("cannot open the lock file", path);
        return -1;
    }
    // flock belongs to the open file: a second open in this process waits as another
    // process does, so threads are kept apart too.
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = failure("cannot lock", path);
            close(fd);
            return -1;
        }
    }
    return fd;
}

void unlock(std::intptr_t handle) {
    close(static_cast<int>(handle));  // closing the file lets the lock go
}

} // namespace origins_file

}} // namespace FB::Consent
