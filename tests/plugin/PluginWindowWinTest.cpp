// The windowed plug-in window with real windows (Wine under Xvfb): a real parent and
// child, real sent and posted messages, the shared procedure and its registry, and the
// child's own procedure called or not.

#include "LogCapture.h"
#include "PluginWindowWin.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using wintest::point;
using wintest::pumpUntil;
using wintest::Recorder;

constexpr UINT kProbe = WM_USER + 5;      // nobody but the child's own procedure answers it
constexpr UINT kAnswered = WM_USER + 7;   // the plug-in answers it through WindowsEvent
constexpr UINT kCustom = WM_USER + 9;     // a window subclass answers it in customWinProc
constexpr LRESULT kChildAnswer = 0x1234;

std::vector<UINT> childMessages;

// An ANSI window: GetWindowLongPtrW gives a handle to a conversion thunk, not the procedure.
LRESULT CALLBACK ansiChildProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kProbe)
        return kChildAnswer + 1;
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK childProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    childMessages.push_back(msg);
    if (msg == kProbe || msg == WM_RBUTTONDBLCLK)
        return kChildAnswer;
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

bool childSaw(UINT msg) {
    for (UINT m : childMessages)
        if (m == msg)
            return true;
    return false;
}

class CustomWindow : public FB::PluginWindowWin {
public:
    using FB::PluginWindowWin::PluginWindowWin;
    bool customWinProc(HWND, UINT msg, WPARAM, LPARAM, LRESULT& lRes) override {
        if (msg != kCustom)
            return false;
        lRes = 77;
        return true;
    }
};

class WindowedPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW parentClass{};
        parentClass.lpfnWndProc = DefWindowProcW;
        parentClass.hInstance = instance;
        parentClass.lpszClassName = L"OrvTestParent";
        RegisterClassW(&parentClass);
        WNDCLASSW childClass{};
        childClass.style = CS_DBLCLKS;
        childClass.lpfnWndProc = childProc;
        childClass.hInstance = instance;
        childClass.lpszClassName = L"OrvTestChild";
        RegisterClassW(&childClass);
        WNDCLASSA ansiClass{};
        ansiClass.lpfnWndProc = ansiChildProc;
        ansiClass.hInstance = instance;
        ansiClass.lpszClassName = "OrvTestAnsiChild";
        RegisterClassA(&ansiClass);
    }

    void SetUp() override {
        // One browser window for the suite: mapping a top-level window is slow under Wine.
        if (!parent_)
            parent_ = CreateWindowExW(0, L"OrvTestParent", L"browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                      400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr) << "no top-level window (the Windows tests run under Xvfb)";
        child_ = makeChild();
        ASSERT_NE(child_, nullptr);
        childMessages.clear();
        window_ = std::make_unique<CustomWindow>(FB::WindowContextWin(child_));
        recorder_ = std::make_shared<Recorder>();
        window_->attachObserver(recorder_);
        recorder_->heard.clear();
    }

    void TearDown() override {
        window_.reset();
        if (IsWindow(child_))
            DestroyWindow(child_);
        pumpUntil([] { return false; }, 20);
    }

    static void TearDownTestSuite() {
        if (parent_)
            DestroyWindow(parent_);
        parent_ = nullptr;
    }

    HWND makeChild() {
        return CreateWindowExW(0, L"OrvTestChild", L"plugin", WS_CHILD | WS_VISIBLE, 10, 20, 200, 100, parent_,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    }

    static HWND parent_;
    HWND child_ = nullptr;
    std::unique_ptr<FB::PluginWindowWin> window_;
    std::shared_ptr<Recorder> recorder_;
};

HWND WindowedPlugin::parent_ = nullptr;

TEST_F(WindowedPlugin, TheWindowIsSubclassedAndGivenBackOnDestruction) {
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child_, GWLP_WNDPROC)), &FB::PluginWindowWin::_WinProc);
    EXPECT_EQ(window_->getOldWinProc(), &childProc);
    EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), window_.get());
    window_.reset();
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child_, GWLP_WNDPROC)), &childProc);
    EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), nullptr);
    EXPECT_EQ(SendMessageW(child_, kProbe, 0, 0), kChildAnswer);
}

TEST_F(WindowedPlugin, MouseMessagesBecomeMouseEvents) {
    struct Case {
        UINT msg;
        LPARAM lParam;
        const char* heard;
    };
    const Case cases[] = {
        {WM_LBUTTONDOWN, point(5, 7), "down 0 5,7"},
        {WM_RBUTTONDOWN, point(-3, -4), "down 1 -3,-4"},
        {WM_MBUTTONDOWN, point(32767, 0), "down 2 32767,0"},
        {WM_LBUTTONUP, point(1, 2), "up 0 1,2"},
        {WM_RBUTTONUP, point(3, 4), "up 1 3,4"},
        {WM_MBUTTONUP, point(-32768, 9), "up 2 -32768,9"},
        {WM_MOUSEMOVE, point(150, 60), "move 150,60"},
    };
    for (const Case& c : cases) {
        recorder_->heard.clear();
        SendMessageW(child_, c.msg, 0, c.lParam);
        EXPECT_EQ(recorder_->heard, (std::vector<std::string>{c.heard})) << std::hex << c.msg;
    }
    EXPECT_FALSE(childSaw(WM_LBUTTONDOWN)) << "the old procedure is not called by default";
}

TEST_F(WindowedPlugin, ALeftClickTakesTheKeyboardFocus) {
    SetFocus(parent_);
    ASSERT_EQ(GetFocus(), parent_);
    SendMessageW(child_, WM_LBUTTONDOWN, 0, point(1, 1));
    EXPECT_EQ(GetFocus(), child_);
}

TEST_F(WindowedPlugin, KeysTimersAndSizes) {
    SendMessageW(child_, WM_KEYDOWN, 0x65, 0);   // VK_NUMPAD5
    SendMessageW(child_, WM_KEYUP, 'A', 0);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"keydown 44 101", "keyup 84 65"}));

    // A real timer, through the message loop (the first paints of the windows may come
    // through it too).
    recorder_->heard.clear();
    ASSERT_NE(SetTimer(child_, 42, 10, nullptr), 0u);
    EXPECT_TRUE(pumpUntil([&] {
        return std::find(recorder_->heard.begin(), recorder_->heard.end(), "timer 42") != recorder_->heard.end();
    }));
    KillTimer(child_, 42);

    recorder_->heard.clear();
    MoveWindow(child_, 10, 20, 300, 150, TRUE);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"resized"}));
    RECT screen{};
    GetWindowRect(child_, &screen);
    EXPECT_EQ(window_->getWindowPosition(), (FB::Rect{screen.top, screen.left, screen.bottom, screen.right}));
    EXPECT_EQ(window_->getWindowWidth(), 300);
    EXPECT_EQ(window_->getWindowHeight(), 150);
    EXPECT_EQ(window_->getWindowClipping(), window_->getWindowPosition());
}

TEST_F(WindowedPlugin, AnUnhandledPaintIsValidatedAndAHandledOneGoesOn) {
    pumpUntil([] { return false; }, 50);  // the first paints of the new windows
    childMessages.clear();
    recorder_->heard.clear();
    window_->invalidateWindow();
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(child_, &update, FALSE));
    UpdateWindow(child_);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"refresh"}));
    EXPECT_FALSE(GetUpdateRect(child_, &update, FALSE)) << "the window was not validated";
    EXPECT_FALSE(childSaw(WM_PAINT));

    // Handled: the message goes on to customWinProc and the default processing, with
    // the old procedure when asked for.
    recorder_->answer = [](FB::PluginEvent* e) { return e->get<FB::RefreshEvent>() != nullptr; };
    window_->setCallOldWinProc(true);
    childMessages.clear();
    window_->invalidateWindow();
    UpdateWindow(child_);
    EXPECT_TRUE(childSaw(WM_PAINT));
}

TEST_F(WindowedPlugin, ThePluginAnswersARawMessageWithItsOwnResult) {
    recorder_->answerRaw = [&](FB::WindowsEvent& e) {
        if (e.uMsg != kAnswered)
            return false;
        EXPECT_EQ(e.hWnd, child_);
        EXPECT_EQ(e.wParam, 3u);
        EXPECT_EQ(e.lParam, 4);
        e.lRes = 0x55;
        return true;
    };
    window_->setCallOldWinProc(true);
    EXPECT_EQ(SendMessageW(child_, kAnswered, 3, 4), 0x55);
    EXPECT_FALSE(childSaw(kAnswered));
    EXPECT_EQ(SendMessageW(child_, kCustom, 0, 0), 77);
    EXPECT_FALSE(childSaw(kCustom));
}

TEST_F(WindowedPlugin, UnhandledMessagesReachTheOldProcedureOnlyWhenAsked) {
    EXPECT_EQ(SendMessageW(child_, kProbe, 0, 0), 0);  // default processing
    EXPECT_EQ(SendMessageW(child_, WM_RBUTTONDBLCLK, 0, point(1, 1)), 0);
    EXPECT_FALSE(childSaw(kProbe));
    EXPECT_FALSE(childSaw(WM_RBUTTONDBLCLK));

    window_->setCallOldWinProc(true);
    EXPECT_EQ(SendMessageW(child_, kProbe, 0, 0), kChildAnswer);
    EXPECT_EQ(SendMessageW(child_, WM_RBUTTONDBLCLK, 0, point(1, 1)), kChildAnswer);
    EXPECT_TRUE(childSaw(kProbe));
    EXPECT_TRUE(recorder_->heard.empty()) << "a double-click has no event of its own";

    // A posted message takes the same road through the message loop.
    childMessages.clear();
    PostMessageW(child_, kProbe, 0, 0);
    EXPECT_TRUE(pumpUntil([] { return childSaw(kProbe); }));
}

TEST_F(WindowedPlugin, TheOldProcedureOfAnAnsiWindowIsCalledThroughTheSystem) {
    HWND ansiChild = CreateWindowExA(0, "OrvTestAnsiChild", "plugin", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, parent_,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(ansiChild, nullptr);
    {
        FB::PluginWindowWin ansiWindow{FB::WindowContextWin(ansiChild)};
        ansiWindow.setCallOldWinProc(true);
        EXPECT_EQ(SendMessageW(ansiChild, kProbe, 0, 0), kChildAnswer + 1);
    }
    EXPECT_EQ(SendMessageW(ansiChild, kProbe, 0, 0), kChildAnswer + 1);
    DestroyWindow(ansiChild);
}

TEST_F(WindowedPlugin, TwoWindowsInOneProcessKeepTheirOwnObservers) {
    HWND otherChild = makeChild();
    ASSERT_NE(otherChild, nullptr);
    auto other = std::make_unique<FB::PluginWindowWin>(FB::WindowContextWin(otherChild));
    auto otherRecorder = std::make_shared<Recorder>();
    other->attachObserver(otherRecorder);
    otherRecorder->heard.clear();

    SendMessageW(child_, WM_MOUSEMOVE, 0, point(1, 1));
    SendMessageW(otherChild, WM_MOUSEMOVE, 0, point(2, 2));
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"move 1,1"}));
    EXPECT_EQ(otherRecorder->heard, (std::vector<std::string>{"move 2,2"}));

    window_.reset();
    SendMessageW(otherChild, WM_MOUSEMOVE, 0, point(3, 3));
    EXPECT_EQ(otherRecorder->heard.back(), "move 3,3");
    other.reset();
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(otherChild, GWLP_WNDPROC)), &childProc);
}

TEST_F(WindowedPlugin, AWindowDestroyedUnderAnAttachedObserver) {
    EXPECT_TRUE(DestroyWindow(child_));
    EXPECT_FALSE(IsWindow(child_));
    // The object outlives its window: it may still be asked and deleted.
    window_->invalidateWindow();
    (void)window_->getWindowPosition();
    window_->detachObserver(recorder_);
    EXPECT_EQ(recorder_->heard.back(), "detached");
    window_.reset();
    EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), nullptr);
}

// A second object made for a window the first still serves: the newer gets the messages,
// keeps the window's own procedure (not the shared one, which would call itself for ever),
// and whichever goes last gives the window its own procedure back.
TEST_F(WindowedPlugin, ASecondObjectForTheSameWindowKeepsTheWindowsOwnProcedure) {
    for (bool olderGoesFirst : {true, false}) {
        SCOPED_TRACE(olderGoesFirst ? "older object goes first" : "newer object goes first");
        if (!window_) {
            window_ = std::make_unique<CustomWindow>(FB::WindowContextWin(child_));
            window_->attachObserver(recorder_);
        }
        auto newer = std::make_unique<FB::PluginWindowWin>(FB::WindowContextWin(child_));
        auto newerRecorder = std::make_shared<Recorder>();
        newer->attachObserver(newerRecorder);
        ASSERT_EQ(newer->getOldWinProc(), &childProc);
        EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), newer.get());
        newer->setCallOldWinProc(true);
        EXPECT_EQ(SendMessageW(child_, kProbe, 0, 0), kChildAnswer);

        if (olderGoesFirst) {
            window_.reset();
            EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), newer.get());
            SendMessageW(child_, WM_MOUSEMOVE, 0, point(4, 4));
            EXPECT_EQ(newerRecorder->heard.back(), "move 4,4");
            newer.reset();
        } else {
            newer.reset();
            EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), window_.get());
            SendMessageW(child_, WM_MOUSEMOVE, 0, point(5, 5));
            EXPECT_EQ(recorder_->heard.back(), "move 5,5");
            window_.reset();
        }
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child_, GWLP_WNDPROC)), &childProc);
        EXPECT_EQ(FB::PluginWindowWin::fromHWND(child_), nullptr);
        EXPECT_EQ(SendMessageW(child_, kProbe, 0, 0), kChildAnswer);
    }
}

// A browser may clear the window from inside one of its own messages (the module-load
// error box runs a nested message loop): the object is not touched afterwards, the message
// still gets its default processing, and a paint is still validated.
TEST_F(WindowedPlugin, AWindowDeletedByItsOwnHandlerIsNotUsedAfterwards) {
    struct Counter : FB::PluginEventSink {
        int events = 0;
        bool handleEvent(FB::PluginEvent*, FB::PluginEventSource*) override {
            ++events;
            return false;
        }
    };
    auto later = std::make_shared<Counter>();
    for (UINT msg : {UINT(WM_LBUTTONDOWN), UINT(WM_MOUSEMOVE), UINT(WM_PAINT), UINT(kCustom)}) {
        SCOPED_TRACE(msg);
        if (!window_) {
            window_ = std::make_unique<CustomWindow>(FB::WindowContextWin(child_));
            window_->attachObserver(recorder_);
        }
        window_->attachObserver(later);
        later->events = 0;
        recorder_->heard.clear();
        recorder_->answerRaw = [&](FB::WindowsEvent& raw) {
            if (raw.uMsg == msg)
                window_.reset();
            return false;
        };
        if (msg == WM_PAINT) {
            InvalidateRect(child_, nullptr, TRUE);
            UpdateWindow(child_);
            RECT dirty;
            EXPECT_FALSE(GetUpdateRect(child_, &dirty, FALSE)) << "the paint was validated";
        } else {
            EXPECT_NE(SendMessageW(child_, msg, 0, point(3, 4)), 77) << "the deleted object answered";
        }
        EXPECT_EQ(window_, nullptr);
        EXPECT_EQ(later->events, 0) << "an observer heard from a window that is gone";
        EXPECT_TRUE(recorder_->heard.empty());
        EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child_, GWLP_WNDPROC)), &childProc);
        recorder_->answerRaw = nullptr;
    }
}

TEST_F(WindowedPlugin, AThrowingObserverCostsTheMessageNotTheProcess) {
    orv::test::LogCapture log;
    recorder_->answer = [](FB::PluginEvent* e) -> bool {
        if (e->get<FB::MouseDownEvent>())
            throw std::runtime_error("observer failed");
        return false;
    };
    window_->setCallOldWinProc(true);
    SendMessageW(child_, WM_LBUTTONDOWN, 0, point(1, 1));
    EXPECT_TRUE(childSaw(WM_LBUTTONDOWN)) << "the message got its default processing";
    SendMessageW(child_, WM_MOUSEMOVE, 0, point(2, 2));
    EXPECT_EQ(recorder_->heard.back(), "move 2,2");
    bool logged = false;
    for (const auto& r : log.records())
        logged = logged || (r.level == FB::Log::Level::Warn && r.message.find("observer failed") != std::string::npos);
    EXPECT_TRUE(logged);
}

} // namespace
