// The windowless plug-in window on Windows: messages the adapter hands over, painted
// into a real device context.

#include "PluginWindowlessWin.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <string>

namespace {

using wintest::point;
using wintest::Recorder;

constexpr int kWidth = 200;
constexpr int kHeight = 100;

class WindowlessPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_), nullptr, 0);
        ASSERT_NE(bitmap_, nullptr);
        old_ = SelectObject(dc_, bitmap_);
        std::fill(pixels_, pixels_ + kWidth * kHeight, 0x00FFFFFFu);
        window_ = std::make_unique<FB::PluginWindowlessWin>(FB::WindowContextWindowless(nullptr));
        recorder_ = std::make_shared<Recorder>();
        window_->attachObserver(recorder_);
        recorder_->heard.clear();
    }
    void TearDown() override {
        window_.reset();
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }

    struct Box {
        int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
        bool empty() const { return right < 0; }
    };
    Box paintedBox() {
        GdiFlush();
        Box box;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if ((pixels_[y * kWidth + x] & 0x00FFFFFFu) != 0x00FFFFFFu) {
                    box.left = std::min(box.left, x);
                    box.right = std::max(box.right, x);
                    box.top = std::min(box.top, y);
                    box.bottom = std::max(box.bottom, y);
                }
        return box;
    }
    bool send(UINT msg, WPARAM wParam, LPARAM lParam) {
        LRESULT result = -1;
        return window_->handleWindowlessEvent(msg, wParam, lParam, result);
    }

    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    std::uint32_t* pixels_ = nullptr;
    std::unique_ptr<FB::PluginWindowlessWin> window_;
    std::shared_ptr<Recorder> recorder_;
};

TEST_F(WindowlessPlugin, AnUnhandledPaintDrawsTheDefaultFaceCentred) {
    window_->setWindowPosition(0, 0, kWidth, kHeight);
    EXPECT_FALSE(send(WM_PAINT, reinterpret_cast<WPARAM>(dc_), 0));
    EXPECT_EQ(window_->getHDC(), dc_);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"refresh"}));
    const Box box = paintedBox();
    ASSERT_FALSE(box.empty()) << "nothing was drawn";
    EXPECT_LE(std::abs((box.left + box.right) / 2 - kWidth / 2), 2) << box.left << ".." << box.right;
    EXPECT_LE(box.bottom, kHeight / 2 + 6);  // on the base line at y = 50 (descenders below)
    EXPECT_GE(box.top, kHeight / 2 - 20);
}

TEST_F(WindowlessPlugin, AHandledPaintDrawsNothingAndStillAnswersFalse) {
    window_->setWindowPosition(0, 0, kWidth, kHeight);
    recorder_->answer = [](FB::PluginEvent* e) { return e->get<FB::RefreshEvent>() != nullptr; };
    EXPECT_FALSE(send(WM_PAINT, reinterpret_cast<WPARAM>(dc_), 0));
    EXPECT_TRUE(paintedBox().empty());
}

TEST_F(WindowlessPlugin, MouseMessagesArriveInPluginCoordinates) {
    window_->setWindowPosition(100, 50, kWidth, kHeight);
    HWND focusBefore = GetFocus();
    struct Case {
        UINT msg;
        LPARAM lParam;
        const char* heard;
    };
    const Case cases[] = {
        {WM_MOUSEMOVE, point(110, 60), "move 10,10"},
        {WM_LBUTTONDOWN, point(110, 60), "down 0 10,10"},
        {WM_RBUTTONDOWN, point(90, 40), "down 1 -10,-10"},
        {WM_MBUTTONDOWN, point(100, 50), "down 2 0,0"},
        {WM_LBUTTONUP, point(300, 150), "up 0 200,100"},
        {WM_RBUTTONUP, point(101, 52), "up 1 1,2"},
        {WM_MBUTTONUP, point(102, 51), "up 2 2,1"},
    };
    for (const Case& c : cases) {
        recorder_->heard.clear();
        EXPECT_FALSE(send(c.msg, 0, c.lParam));
        EXPECT_EQ(recorder_->heard, (std::vector<std::string>{c.heard})) << std::hex << c.msg;
    }
    EXPECT_EQ(GetFocus(), focusBefore);
}

TEST_F(WindowlessPlugin, KeysAreTranslatedAndTimersAndSizesAreNotEvents) {
    EXPECT_FALSE(send(WM_KEYDOWN, 0x70, 0));  // F1
    EXPECT_FALSE(send(WM_KEYUP, 0x86, 0));    // F23: no code of its own
    EXPECT_FALSE(send(WM_TIMER, 42, 0));
    EXPECT_FALSE(send(WM_SIZE, 0, point(10, 10)));
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"keydown 11 112", "keyup 84 134"}));
}

TEST_F(WindowlessPlugin, ARawMessageAnsweredByThePluginGivesItsResult) {
    recorder_->answerRaw = [](FB::WindowsEvent& e) {
        if (e.uMsg != WM_USER + 1)
            return false;
        e.lRes = 99;
        return true;
    };
    LRESULT result = 0;
    EXPECT_TRUE(window_->handleWindowlessEvent(WM_USER + 1, 0, 0, result));
    EXPECT_EQ(result, 99);
    EXPECT_EQ(recorder_->rawWindows.back(), nullptr);
    result = 5;
    EXPECT_FALSE(window_->handleWindowlessEvent(WM_USER + 2, 0, 0, result));
    EXPECT_EQ(result, 5) << "an unanswered message leaves the result alone";
}

TEST_F(WindowlessPlugin, InvalidateAsksTheBrowserForThePluginsRectangle) {
    window_->setWindowPosition(10, 20, 300, 100);
    std::vector<std::array<std::uint32_t, 4>> calls;
    window_->setInvalidateWindowFunc([&](std::uint32_t l, std::uint32_t t, std::uint32_t r, std::uint32_t b) {
        calls.push_back({l, t, r, b});
    });
    window_->invalidateWindow();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::array<std::uint32_t, 4>{10, 20, 310, 120}));
}

// A browser may clear the window from inside one of its own events (the module-load error
// box runs a nested message loop): the window is not touched afterwards, and an observer
// attached after the one that cleared it hears nothing more from it.
TEST_F(WindowlessPlugin, AWindowDeletedByItsOwnHandlerIsNotUsedAfterwards) {
    struct Counter : FB::PluginEventSink {
        int events = 0;
        bool handleEvent(FB::PluginEvent*, FB::PluginEventSource*) override {
            ++events;
            return false;
        }
    };
    auto later = std::make_shared<Counter>();
    for (UINT msg : {UINT(WM_LBUTTONDOWN), UINT(WM_MOUSEMOVE), UINT(WM_KEYDOWN), UINT(WM_PAINT)}) {
        SCOPED_TRACE(msg);
        if (!window_) {
            window_ = std::make_unique<FB::PluginWindowlessWin>(FB::WindowContextWindowless(nullptr));
            window_->attachObserver(recorder_);
        }
        window_->setWindowPosition(0, 0, kWidth, kHeight);
        window_->attachObserver(later);
        later->events = 0;
        recorder_->heard.clear();
        recorder_->answerRaw = [&](FB::WindowsEvent&) {
            window_.reset();
            return false;
        };
        const WPARAM wParam = msg == WM_PAINT ? reinterpret_cast<WPARAM>(dc_) : WPARAM('A');
        LRESULT result = -1;
        EXPECT_FALSE(window_->handleWindowlessEvent(msg, wParam, point(3, 4), result));
        EXPECT_EQ(window_, nullptr);
        EXPECT_EQ(later->events, 0) << "an observer heard from a window that is gone";
        EXPECT_TRUE(recorder_->heard.empty());
        EXPECT_TRUE(paintedBox().empty());
        recorder_->answerRaw = nullptr;
    }
}

TEST_F(WindowlessPlugin, AClickFarFromAPluginAtTheEndOfTheRangeStopsAtTheEndOfTheRange) {
    window_->setWindowPosition(INT_MIN, 0, kWidth, kHeight);
    EXPECT_FALSE(send(WM_LBUTTONDOWN, 0, point(5, 7)));
    ASSERT_FALSE(recorder_->heard.empty());
    EXPECT_EQ(recorder_->heard.back(), "down 0 " + std::to_string(INT_MAX) + ",7");
}

} // namespace
