// The Linux windowless window against a real X server: the browser's X events become the
// same event records as on Windows, and an unhandled expose paints the default face into
// the browser's drawable.

#include "PluginEvents/GeneralEvents.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginWindowlessX11.h"
#include "X11Event.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 100;

class Recorder : public FB::PluginEventSink {
public:
    std::vector<std::string> heard;
    std::function<bool(FB::PluginEvent*)> answer;

    bool handleEvent(FB::PluginEvent* e, FB::PluginEventSource*) override {
        if (auto* d = e->get<FB::MouseDownEvent>())
            heard.push_back(describe("down", d->m_Btn, d->m_x, d->m_y));
        else if (auto* u = e->get<FB::MouseUpEvent>())
            heard.push_back(describe("up", u->m_Btn, u->m_x, u->m_y));
        else if (auto* m = e->get<FB::MouseMoveEvent>())
            heard.push_back("move " + std::to_string(m->m_x) + "," + std::to_string(m->m_y));
        else if (auto* k = e->get<FB::KeyDownEvent>())
            heard.push_back("keydown " + std::to_string(k->m_key_code) + " " + std::to_string(k->m_os_key_code));
        else if (auto* k = e->get<FB::KeyUpEvent>())
            heard.push_back("keyup " + std::to_string(k->m_key_code) + " " + std::to_string(k->m_os_key_code));
        else if (e->get<FB::RefreshEvent>())
            heard.push_back("refresh");
        return answer ? answer(e) : false;
    }

private:
    static std::string describe(const char* what, int b, int x, int y) {
        return std::string(what) + " " + std::to_string(b) + " " + std::to_string(x) + "," + std::to_string(y);
    }
};

class X11Window : public ::testing::Test {
protected:
    // One connection for the suite: a server started moments ago may refuse a burst of them.
    static void SetUpTestSuite() { sharedDisplay_ = XOpenDisplay(nullptr); }
    static void TearDownTestSuite() {
        if (sharedDisplay_)
            XCloseDisplay(sharedDisplay_);
        sharedDisplay_ = nullptr;
    }

    void SetUp() override {
        display_ = sharedDisplay_;
        ASSERT_NE(display_, nullptr) << "no X display (the test runs under xvfb-run)";
        const int screen = DefaultScreen(display_);
        pixmap_ = XCreatePixmap(display_, RootWindow(display_, screen), kWidth, kHeight,
                                static_cast<unsigned>(DefaultDepth(display_, screen)));
        GC gc = XCreateGC(display_, pixmap_, 0, nullptr);
        XSetForeground(display_, gc, WhitePixel(display_, screen));
        XFillRectangle(display_, pixmap_, gc, 0, 0, kWidth, kHeight);
        XFreeGC(display_, gc);
        window_ = std::make_unique<FB::PluginWindowlessX11>(FB::WindowContextWindowless(display_, 0));
        recorder_ = std::make_shared<Recorder>();
        window_->attachObserver(recorder_);
    }
    void TearDown() override {
        window_.reset();
        if (display_)
            XFreePixmap(display_, pixmap_);
    }

    XEvent expose() {
        XEvent e{};
        e.xgraphicsexpose.type = GraphicsExpose;
        e.xgraphicsexpose.display = display_;
        e.xgraphicsexpose.drawable = pixmap_;
        e.xgraphicsexpose.width = kWidth;
        e.xgraphicsexpose.height = kHeight;
        return e;
    }
    XEvent button(int type, unsigned which, int x, int y) {
        XEvent e{};
        e.xbutton.type = type;
        e.xbutton.display = display_;
        e.xbutton.button = which;
        e.xbutton.x = x;
        e.xbutton.y = y;
        return e;
    }
    XEvent key(int type, KeySym keysym, unsigned state = 0) {
        XEvent e{};
        e.xkey.type = type;
        e.xkey.display = display_;
        e.xkey.keycode = XKeysymToKeycode(display_, keysym);
        e.xkey.state = state;
        return e;
    }

    // The bounding box of the pixels that are not white.
    struct Box {
        int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
        bool empty() const { return right < 0; }
    };
    Box paintedBox() {
        XImage* image = XGetImage(display_, pixmap_, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
        Box box;
        const unsigned long white = WhitePixel(display_, DefaultScreen(display_));
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (XGetPixel(image, x, y) != white) {
                    box.left = std::min(box.left, x);
                    box.right = std::max(box.right, x);
                    box.top = std::min(box.top, y);
                    box.bottom = std::max(box.bottom, y);
                }
        XDestroyImage(image);
        return box;
    }

    static Display* sharedDisplay_;
    Display* display_ = nullptr;
    Pixmap pixmap_ = 0;
    std::unique_ptr<FB::PluginWindowlessX11> window_;
    std::shared_ptr<Recorder> recorder_;
};

Display* X11Window::sharedDisplay_ = nullptr;

TEST_F(X11Window, AnUnhandledExposePaintsTheDefaultFaceCentredInThePlugin) {
    window_->setWindowPosition(0, 0, kWidth, kHeight);
    XEvent e = expose();
    EXPECT_FALSE(window_->handleX11Event(e));
    EXPECT_EQ(window_->getDrawable(), pixmap_);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"refresh"}));
    const Box box = paintedBox();
    ASSERT_FALSE(box.empty()) << "nothing was drawn";
    // Centred horizontally on x = 100, standing on the base line y = 50.
    EXPECT_LE(std::abs((box.left + box.right) / 2 - kWidth / 2), 2) << box.left << ".." << box.right;
    EXPECT_GT(box.right - box.left, 40);
    EXPECT_LE(box.bottom, kHeight / 2 + 4);
    EXPECT_GE(box.top, kHeight / 2 - 20);
}

TEST_F(X11Window, AClickFarFromAPluginAtTheEndOfTheRangeStopsAtTheEndOfTheRange) {
    window_->setWindowPosition(INT_MIN, 0, kWidth, kHeight);
    XEvent press = button(ButtonPress, Button1, 5, 7);
    EXPECT_FALSE(window_->handleX11Event(press));
    EXPECT_EQ(recorder_->heard.back(), "down 0 " + std::to_string(INT_MAX) + ",7");
}

// A browser may clear the window from inside one of its own events (a nested message loop
// runs while a handler shows an error box): the window is not touched afterwards.
TEST_F(X11Window, AWindowDeletedByItsOwnHandlerIsNotUsedAfterwards) {
    // Counts every event it is offered.
    struct Counter : FB::PluginEventSink {
        int events = 0;
        bool handleEvent(FB::PluginEvent*, FB::PluginEventSource*) override {
            ++events;
            return false;
        }
    };
    window_->setWindowPosition(0, 0, kWidth, kHeight);
    auto later = std::make_shared<Counter>();
    window_->attachObserver(later);
    for (int type : {ButtonPress, MotionNotify, GraphicsExpose}) {
        SCOPED_TRACE(type);
        if (!window_) {
            window_ = std::make_unique<FB::PluginWindowlessX11>(FB::WindowContextWindowless(display_, 0));
            window_->setWindowPosition(0, 0, kWidth, kHeight);
            window_->attachObserver(recorder_);
            window_->attachObserver(later);
        }
        recorder_->heard.clear();
        later->events = 0;
        // The first observer clears the window when the raw X event arrives.
        recorder_->answer = [&](FB::PluginEvent* e) {
            if (e->get<FB::X11Event>())
                window_.reset();
            return false;
        };
        XEvent e = type == GraphicsExpose ? expose() : button(type, Button1, 3, 4);
        if (type == MotionNotify) {
            e.xmotion.x = 3;
            e.xmotion.y = 4;
        }
        EXPECT_FALSE(window_->handleX11Event(e));
        EXPECT_EQ(window_, nullptr);
        EXPECT_EQ(later->events, 0) << "an observer heard from a window that is gone";
        EXPECT_TRUE(recorder_->heard.empty());
        EXPECT_TRUE(paintedBox().empty());
        recorder_->answer = nullptr;
    }
}

TEST_F(X11Window, AHandledRefreshPaintsNothing) {
    window_->setWindowPosition(0, 0, kWidth, kHeight);
    recorder_->answer = [](FB::PluginEvent* e) { return e->get<FB::RefreshEvent>() != nullptr; };
    XEvent e = expose();
    EXPECT_FALSE(window_->handleX11Event(e));
    EXPECT_TRUE(paintedBox().empty());
}

TEST_F(X11Window, ButtonsAndMotionBecomeMouseEventsInPluginCoordinates) {
    window_->setWindowPosition(100, 50, kWidth, kHeight);
    struct Case {
        XEvent event;
        const char* heard;
    };
    const Case cases[] = {
        {button(ButtonPress, Button1, 110, 60), "down 0 10,10"},
        {button(ButtonPress, Button3, 110, 60), "down 1 10,10"},
        {button(ButtonPress, Button2, 90, 45), "down 2 -10,-5"},
        {button(ButtonRelease, Button1, 300, 150), "up 0 200,100"},
        {button(ButtonRelease, Button3, 100, 50), "up 1 0,0"},
        {button(ButtonRelease, Button2, 101, 51), "up 2 1,1"},
    };
    for (const Case& c : cases) {
        recorder_->heard.clear();
        EXPECT_FALSE(window_->handleX11Event(c.event));
        EXPECT_EQ(recorder_->heard, (std::vector<std::string>{c.heard}));
    }
    XEvent move{};
    move.xmotion.type = MotionNotify;
    move.xmotion.x = 110;
    move.xmotion.y = 60;
    recorder_->heard.clear();
    window_->handleX11Event(move);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"move 10,10"}));

    // Wheel steps and other events carry no record.
    recorder_->heard.clear();
    XEvent wheel = button(ButtonPress, Button4, 110, 60);
    XEvent enter{};
    enter.type = EnterNotify;
    EXPECT_FALSE(window_->handleX11Event(wheel));
    EXPECT_FALSE(window_->handleX11Event(enter));
    EXPECT_TRUE(recorder_->heard.empty());
}

TEST_F(X11Window, AHandledMouseEventIsReportedHandled) {
    recorder_->answer = [](FB::PluginEvent* e) { return e->get<FB::MouseDownEvent>() != nullptr; };
    EXPECT_TRUE(window_->handleX11Event(button(ButtonPress, Button1, 1, 1)));
    EXPECT_FALSE(window_->handleX11Event(button(ButtonRelease, Button1, 1, 1)));
}

TEST_F(X11Window, KeysBecomeFrameworkKeyCodesWithTheirKeysym) {
    struct Case {
        KeySym keysym;
        int code;
    };
    const Case cases[] = {
        {XK_F1, FB::FBKEY_F1},       {XK_Return, FB::FBKEY_RETURN}, {XK_Escape, FB::FBKEY_ESCAPE},
        {XK_Up, FB::FBKEY_UP},       {XK_BackSpace, FB::FBKEY_BACK}, {XK_Shift_L, FB::FBKEY_SHIFT},
        {XK_a, FB::FBKEY_UNKNOWN},   {XK_1, FB::FBKEY_UNKNOWN},
    };
    for (const Case& c : cases) {
        if (XKeysymToKeycode(display_, c.keysym) == 0)
            continue;  // not on this server's keyboard
        recorder_->heard.clear();
        window_->handleX11Event(key(KeyPress, c.keysym));
        window_->handleX11Event(key(KeyRelease, c.keysym));
        const std::string codes = std::to_string(c.code) + " " + std::to_string(c.keysym);
        EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"keydown " + codes, "keyup " + codes}))
            << XKeysymToString(c.keysym);
    }
    // An event that names no display cannot be looked up: an unknown key, no crash.
    XEvent orphan{};
    orphan.xkey.type = KeyPress;
    orphan.xkey.keycode = 38;
    recorder_->heard.clear();
    window_->handleX11Event(orphan);
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"keydown 84 0"}));
}

TEST_F(X11Window, ARawEventAnsweredByThePluginGoesNoFurther) {
    recorder_->answer = [](FB::PluginEvent* e) { return e->get<FB::X11Event>() != nullptr; };
    window_->setWindowPosition(0, 0, kWidth, kHeight);
    EXPECT_TRUE(window_->handleX11Event(button(ButtonPress, Button1, 5, 5)));
    XEvent e = expose();
    EXPECT_TRUE(window_->handleX11Event(e));
    EXPECT_TRUE(recorder_->heard.empty());
    EXPECT_TRUE(paintedBox().empty());
}

TEST_F(X11Window, AnExposeWithoutADrawablePaintsNothing) {
    XEvent e = expose();
    e.xgraphicsexpose.drawable = 0;
    EXPECT_FALSE(window_->handleX11Event(e));
    EXPECT_EQ(recorder_->heard, (std::vector<std::string>{"refresh"}));
}

} // namespace
