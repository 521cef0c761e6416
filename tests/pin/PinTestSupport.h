#pragma once
// Pieces the PIN tests share: a function list whose only entry is a C_Login that keeps what
// it was given, and a watch on the built-in PIN entry that tells whether it was shown.

#include "pin/PinEntry.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orv { namespace test {

// The module as far as a login needs it; the load count raised for as long as it lives.
class LoginOnlyModule {
public:
    LoginOnlyModule() {
        std::memset(&list_, 0, sizeof list_);
        list_.C_Login = &login;
        calls() = 0;
        lastPin().clear();
        moduleLoadCount = 1;
    }
    ~LoginOnlyModule() { moduleLoadCount = 0; }
    CK_FUNCTION_LIST* list() { return &list_; }

    static int& calls() {
        static int n = 0;
        return n;
    }
    static std::string& lastPin() {
        static std::string pin;
        return pin;
    }

private:
    static CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
        ++calls();
        lastPin().assign(reinterpret_cast<const char*>(pin), length);
        return CKR_OK;
    }
    CK_FUNCTION_LIST list_;
};

inline bool pinBufferWiped() {
    for (char c : pinText)
        if (c != 0)
            return false;
    return pinLength == 0;
}

// Watches for the built-in entry while it lives: on Linux a pinentry that would record its
// start, on Windows the dialog's window (closed again if it appears, so nothing hangs).
class BuiltInEntryWatch {
public:
    BuiltInEntryWatch() {
#ifdef _WIN32
        watcher_ = std::thread([this] {
            while (!stop_) {
                if (HWND dialog = FindWindowW(L"#32770", L"Ввод пин-кода")) {
                    shown_ = true;
                    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
#else
        char pattern[] = "/tmp/orvanta-watch.XXXXXX";
        folder_ = mkdtemp(pattern);
        setenv("ORVANTA_PINENTRY", ORV_SCRIPTED_PINENTRY, 1);
        setenv("PEER_LOG", (folder_ + "/log").c_str(), 1);
#endif
    }
    ~BuiltInEntryWatch() {
#ifdef _WIN32
        stop_ = true;
        watcher_.join();
#else
        unsetenv("ORVANTA_PINENTRY");
        unsetenv("PEER_LOG");
        std::remove((folder_ + "/log").c_str());
        rmdir(folder_.c_str());
#endif
    }

    bool shown() {
#ifdef _WIN32
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // one more look
        return shown_;
#else
        return access((folder_ + "/log").c_str(), F_OK) == 0;
#endif
    }

private:
#ifdef _WIN32
    std::thread watcher_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> shown_{false};
#else
    std::string folder_;
#endif
};

// One PIN request as the session layer makes it: the buffer is pre-filled so that a write
// past the PIN or an added terminator shows.
struct Entered {
    int result;
    std::string pin;
};

inline Entered ask() {
    unsigned char buffer[36];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::int32_t length = -1;
    const int result = askPin(buffer, &length);
    if (!result) {
        EXPECT_EQ(length, -1);  // nothing is handed out on cancel
        return {result, std::string()};
    }
    EXPECT_GE(length, 0);
    EXPECT_LE(length, 32);
    EXPECT_EQ(buffer[length], 0xEE);  // no terminator added
    return {result, std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(length))};
}

}} // namespace orv::test
