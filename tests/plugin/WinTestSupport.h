#pragma once
// What the Windows window tests share: a recorder of event records and a message pump
// with a time limit.

#include "PluginEventSink.h"
#include "AttachedEvent.h"
#include "PluginEvents/GeneralEvents.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "WindowsEvent.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wintest {

class Recorder : public FB::PluginEventSink {
public:
    std::vector<std::string> heard;
    // Answers a raw message: returns true with the result to give.
    std::function<bool(FB::WindowsEvent&)> answerRaw;
    std::function<bool(FB::PluginEvent*)> answer;

    bool handleEvent(FB::PluginEvent* e, FB::PluginEventSource*) override {
        if (auto* raw = e->get<FB::WindowsEvent>()) {
            rawWindows.push_back(raw->hWnd);
            return answerRaw ? answerRaw(*raw) : false;
        }
        if (auto* d = e->get<FB::MouseDownEvent>())
            heard.push_back(mouse("down", d->m_Btn, d->m_x, d->m_y));
        else if (auto* u = e->get<FB::MouseUpEvent>())
            heard.push_back(mouse("up", u->m_Btn, u->m_x, u->m_y));
        else if (auto* m = e->get<FB::MouseMoveEvent>())
            heard.push_back("move " + std::to_string(m->m_x) + "," + std::to_string(m->m_y));
        else if (auto* k = e->get<FB::KeyDownEvent>())
            heard.push_back("keydown " + std::to_string(k->m_key_code) + " " + std::to_string(k->m_os_key_code));
        else if (auto* k = e->get<FB::KeyUpEvent>())
            heard.push_back("keyup " + std::to_string(k->m_key_code) + " " + std::to_string(k->m_os_key_code));
        else if (auto* t = e->get<FB::TimerEvent>())
            heard.push_back("timer " + std::to_string(t->timerId));
        else if (e->get<FB::RefreshEvent>())
            heard.push_back("refresh");
        else if (e->get<FB::ResizedEvent>())
            heard.push_back("resized");
        else if (e->get<FB::AttachedEvent>())
            heard.push_back("attached");
        else if (e->get<FB::DetachedEvent>())
            heard.push_back("detached");
        return answer ? answer(e) : false;
    }

    std::vector<HWND> rawWindows;

private:
    static std::string mouse(const char* what, int b, int x, int y) {
        return std::string(what) + " " + std::to_string(b) + " " + std::to_string(x) + "," + std::to_string(y);
    }
};

// Dispatches this thread's messages until done() holds; false when the time is up.
inline bool pumpUntil(const std::function<bool()>& done, DWORD limitMs = 10000) {
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

inline LPARAM point(int x, int y) {
    return static_cast<LPARAM>(static_cast<DWORD>((static_cast<WORD>(y) << 16) | static_cast<WORD>(x)));
}

} // namespace wintest
