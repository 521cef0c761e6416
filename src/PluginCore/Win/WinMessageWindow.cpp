#include "WinMessageWindow.h"

#include "logging.h"

#include <memory>
#include <stdexcept>

namespace FB {

namespace {

const wchar_t kClassName[] = L"FBEventWindow";
const wchar_t kWindowTitle[] = L"PluginEventWindow";

struct AsyncCallRecord {
    void (*func)(void*);
    void* userData;
};

void runRecord(LPARAM lParam) {
    std::unique_ptr<AsyncCallRecord> record(reinterpret_cast<AsyncCallRecord*>(lParam));
    FBLOG_TRACE("PluginWindow", "Running async function call");
    record->func(record->userData);
}

LRESULT CALLBACK messageWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WinMessageWindow::WM_ASYNCTHREADINVOKE) {
        runRecord(lParam);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// The module this code lives in (the plug-in DLL, or a test executable).
HINSTANCE ownModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&messageWindowProc), &module);
    return module;
}

} // namespace

WinMessageWindow::WinMessageWindow() : m_hWnd(nullptr) {
    HINSTANCE instance = ownModule();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = &messageWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    // Registered once per process; later windows find it there.
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("Could not register window class");

    m_hWnd = CreateWindowW(kClassName, kWindowTitle, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!m_hWnd)
        throw std::runtime_error("Could not create Message Window");
}

WinMessageWindow::~WinMessageWindow() {
    // A destroyed window's queued messages are discarded with their records; run them now,
    // so that every posted call runs once and no record is lost.
    MSG msg;
    while (PeekMessageW(&msg, m_hWnd, WM_ASYNCTHREADINVOKE, WM_ASYNCTHREADINVOKE, PM_REMOVE))
        runRecord(msg.lParam);
    DestroyWindow(m_hWnd);
}

bool WinMessageWindow::scheduleAsyncCall(void (*func)(void*), void* userData) const {
    auto record = std::make_unique<AsyncCallRecord>(AsyncCallRecord{func, userData});
    if (!PostMessageW(m_hWnd, WM_ASYNCTHREADINVOKE, 0, reinterpret_cast<LPARAM>(record.get())))
        return false;
    record.release();  // the message procedure frees it
    return true;
}

} // namespace FB
