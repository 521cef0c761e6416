#include "AllowedOrigins.h"

#include "utf8_tools.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace FB { namespace Consent {

std::string defaultAllowedOriginsPath() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::string();
    return wstring_to_utf8(std::wstring(folder, length)) + "\\orvanta\\allowed-origins";
}

std::string machineAllowedOriginsPath() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::string();
    return wstring_to_utf8(std::wstring(folder, length)) + "\\orvanta\\allowed-origins";
}

namespace origins_file {

namespace {

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text ? wstring_to_utf8(text) : "error " + std::to_string(code);
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string failure(const char* what, const std::string& path, DWORD code = GetLastError()) {
    return std::string(what) + " " + path + ": " + systemMessage(code);
}

} // namespace

ReadResult readWhole(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    // Shared for deleting too: a writer may rename its new list over the file meanwhile.
    const HANDLE file = CreateFileW(utf8_to_wstring(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return ReadResult::Missing;
        error = systemMessage(code);
        return ReadResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "it is a folder";
        CloseHandle(file);
        return ReadResult::Failed;
    }
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            error = systemMessage(GetLastError());
            CloseHandle(file);
            text.clear();
            return ReadResult::Failed;
        }
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    CloseHandle(file);
    return ReadResult::Read;
}

bool makePrivateFolders(const std::string& folder, std::string& error) {
    if (folder.empty())
        return true;
    const std::wstring wide = utf8_to_wstring(folder);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return true;
        error = failure("cannot use the folder", folder, ERROR_DIRECTORY);
        return false;
    }
    const std::size_t slash = folder.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0 && folder[slash - 1] != ':' &&
        !makePrivateFolders(folder.substr(0, slash), error))
        return false;
    // The folder inherits the user profile's protection: private to the user there.
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = failure("cannot create the folder", folder);
        return false;
    }
    return true;
}

bool replacePrivately(const std::string& path, const std::string& text, std::string& error) {
    static std::atomic<unsigned> counter{0};
    const std::string name = path + "." + std::to_string(GetCurrentProcessId()) + "." +
                             std::to_string(GetCurrentThreadId()) + "." + std::to_string(++counter) + ".new";
    const std::wstring wideName = utf8_to_wstring(name);
    const HANDLE file = CreateFileW(wideName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("cannot create", name);
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!ok) {
        error = failure("cannot write", name, code);
        DeleteFileW(wideName.c_str());
        return false;
    }
    // A reader may have the file open for a moment (it shares deleting, so the rename goes
    // through; other programs may not): try a few times.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(wideName.c_str(), utf8_to_wstring(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD failed = GetLastError();
        if (attempt == 20 || (failed != ERROR_ACCESS_DENIED && failed != ERROR_SHARING_VIOLATION)) {
            error = failure("cannot replace", path, failed);
            DeleteFileW(wideName.c_str());
            return false;
        }
        Sleep(10);
    }
}

std::intptr_t lockExclusive(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileW(utf8_to_wstring(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("cannot open the lock file", path);
        return -1;
    }
    // Each handle locks on its own: a second handle in this process waits as another
    // process does, so threads are kept apart too.
    OVERLAPPED where = {};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &where)) {
        error = failure("cannot lock", path);
        CloseHandle(file);
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(file);
}

void unlock(std::intptr_t handle) {
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    OVERLAPPED where = {};
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &where);
    CloseHandle(file);
}

} // namespace origins_file

}} // namespace FB::Consent
