// The hidden message window under Windows (Wine): posted calls run exactly once, on the
// thread that created the window, whichever thread posted them.

#include "BrowserHost.h"
#include "JSExceptions.h"
#include "WinMessageWindow.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

struct Probe {
    std::atomic<int> runs{0};
    std::atomic<DWORD> thread{0};
};

void recordRun(void* p) {
    auto* probe = static_cast<Probe*>(p);
    probe->thread = GetCurrentThreadId();
    ++probe->runs;
}

// Dispatches this thread's messages until done() holds; false when the time is up.
bool pumpUntil(const std::function<bool()>& done, DWORD limitMs = 10000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start > limitMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// A host whose browser has no thread-call service: the message window hands calls over.
class WindowHost : public FB::BrowserHost {
public:
    void* getContextID() const override { return nullptr; }
    FB::DOM::DocumentPtr getDOMDocument() override { return nullptr; }
    FB::DOM::WindowPtr getDOMWindow() override { return nullptr; }
    FB::DOM::ElementPtr getDOMElement() override { return nullptr; }
    using FB::BrowserHost::evaluateJavaScript;
    void evaluateJavaScript(const std::string&) override {}
    void DoDeferredRelease() const override {}
    bool _scheduleAsyncCall(void (*func)(void*), void* userData) const override {
        return m_window.scheduleAsyncCall(func, userData);
    }
    FB::BrowserStreamPtr _createStream(const std::string&, const FB::PluginEventSinkPtr&, bool, bool,
                                       size_t) const override {
        return nullptr;
    }

private:
    FB::WinMessageWindow m_window;
};

} // namespace

TEST(WinMessageWindow, PostedCallRunsOnceOnTheCreatingThread) {
    FB::WinMessageWindow window;
    ASSERT_NE(window.getHWND(), nullptr);
    Probe probe;
    std::thread poster([&] { EXPECT_TRUE(window.scheduleAsyncCall(&recordRun, &probe)); });
    poster.join();
    EXPECT_EQ(probe.runs, 0);  // it waits for this thread's message loop
    ASSERT_TRUE(pumpUntil([&] { return probe.runs > 0; }));
    pumpUntil([] { return false; }, 200);  // and does not come again
    EXPECT_EQ(probe.runs, 1);
    EXPECT_EQ(probe.thread, GetCurrentThreadId());
}

TEST(WinMessageWindow, IsAMessageOnlyWindowOfItsClass) {
    FB::WinMessageWindow window;
    FB::WinMessageWindow second;  // the class is registered once and shared
    EXPECT_NE(window.getHWND(), second.getHWND());
    wchar_t className[64] = {};
    GetClassNameW(window.getHWND(), className, 64);
    EXPECT_EQ(std::wstring(className), L"FBEventWindow");
    // WM_GETTEXT is left to the default procedure, which answers with the title.
    wchar_t title[64] = {};
    GetWindowTextW(window.getHWND(), title, 64);
    EXPECT_EQ(std::wstring(title), L"PluginEventWindow");
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"FBEventWindow", nullptr) != nullptr, true);
    EXPECT_EQ(FB::WinMessageWindow::WM_ASYNCTHREADINVOKE, 1025u);
}

TEST(WinMessageWindow, QueuedCallsRunWhenTheWindowGoes) {
    Probe probe;
    {
        FB::WinMessageWindow window;
        ASSERT_TRUE(window.scheduleAsyncCall(&recordRun, &probe));
        ASSERT_TRUE(window.scheduleAsyncCall(&recordRun, &probe));
        EXPECT_EQ(probe.runs, 0);
    }
    EXPECT_EQ(probe.runs, 2);
    EXPECT_EQ(probe.thread, GetCurrentThreadId());
}

TEST(WinMessageWindow, CarriesBlockingCallsFromAWorker) {
    auto host = std::make_shared<WindowHost>();
    std::atomic<bool> done{false};
    DWORD ranOn = 0;
    std::string error;
    int result = 0;
    std::thread worker([&] {
        try {
            result = host->CallOnMainThread([&] {
                ranOn = GetCurrentThreadId();
                return 42;
            });
            host->CallOnMainThread([]() -> int { throw FB::script_error("Could not get property"); });
        } catch (const FB::script_error& e) {
            error = e.what();
        }
        done = true;
    });
    const bool finished = pumpUntil([&] { return done.load(); });
    if (!finished)
        host->shutdown();  // releases the worker
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ranOn, GetCurrentThreadId());
    EXPECT_EQ(error, "Could not get property");
    host->shutdown();
}
