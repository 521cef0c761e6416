#include "NpapiWinHost.h"

#include <cstring>
#include <map>
#include <thread>
#include <utility>

namespace orv { namespace test {

namespace {

// Posted to the browser window when the plug-in queued a call for the main thread.
constexpr UINT kRunAsyncCalls = WM_APP + 7;
const wchar_t kBrowserClass[] = L"OrvantaTestBrowser";
const wchar_t kPluginClass[] = L"OrvantaTestPluginWindow";

std::map<std::pair<HWND, UINT>, int> g_classProcMessages;
std::vector<std::string> g_messageBoxes;

std::string windowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK collectStatic(HWND child, LPARAM out) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0) {
        const std::string text = windowText(child);
        if (!text.empty())
            *reinterpret_cast<std::string*>(out) += text;
    }
    return TRUE;
}

// Notes each dialog of the message-box class as it activates and closes it at once.
LRESULT CALLBACK dialogWatch(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char cls[16] = {};
        GetClassNameA(box, cls, sizeof cls);
        if (std::strcmp(cls, "#32770") == 0) {
            std::string text;
            EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
            g_messageBoxes.push_back(windowText(box) + ": " + text);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++g_classProcMessages[{window, message}];
    return DefWindowProcW(window, message, wParam, lParam);
}

void registerClasses() {
    static bool done = false;
    if (done)
        return;
    WNDCLASSW browser = {};
    browser.lpfnWndProc = DefWindowProcW;  // replaced per window below
    browser.hInstance = GetModuleHandleW(nullptr);
    browser.lpszClassName = kBrowserClass;
    RegisterClassW(&browser);
    WNDCLASSW plugin = {};
    plugin.lpfnWndProc = countingProc;
    plugin.hInstance = GetModuleHandleW(nullptr);
    plugin.lpszClassName = kPluginClass;
    plugin.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&plugin);
    done = true;
}

std::string lastError(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

template <typename F>
F exportOf(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

EmbedAttributes::EmbedAttributes(std::vector<std::string> n, std::vector<const char*> values)
    : names(std::move(n)) {
    texts.reserve(values.size());
    for (const char* v : values)
        texts.emplace_back(v ? v : "");
    for (size_t i = 0; i < names.size(); ++i) {
        argn.push_back(&names[i][0]);
        argv.push_back(values[i] ? &texts[i][0] : nullptr);
    }
}

NpapiWinHost::NpapiWinHost(const std::wstring& modulePath, FakeNpapiBrowser& browser) : m_browser(browser) {
    std::memset(&m_funcs, 0, sizeof m_funcs);
    m_funcs.size = sizeof m_funcs;
    m_funcs.version = 27;

    registerClasses();
    m_boxHook = SetWindowsHookExW(WH_CBT, dialogWatch, nullptr, GetCurrentThreadId());
    m_browserWindow = CreateWindowExW(0, kBrowserClass, L"orvanta test browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                      0, 0, 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!m_browserWindow) {
        m_error = lastError("CreateWindowExW");
        return;
    }
    SetWindowLongPtrW(m_browserWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_browserWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&browserProc));
    m_browser.withNetscapeWindow(m_browserWindow);
    HWND wake = m_browserWindow;
    m_browser.asyncCallQueued = [wake]() { PostMessageW(wake, kRunAsyncCalls, 0, 0); };

    m_module = LoadLibraryW(modulePath.c_str());
    if (!m_module) {
        m_error = lastError("LoadLibraryW");
        return;
    }
    auto getEntryPoints = exportOf<NP_GetEntryPointsFunc>(m_module, "NP_GetEntryPoints");
    auto initialize = exportOf<NP_InitializeFunc>(m_module, "NP_Initialize");
    m_shutdown = exportOf<NP_ShutdownFunc>(m_module, "NP_Shutdown");
    if (!getEntryPoints || !initialize || !m_shutdown) {
        m_error = "an NPAPI export is missing";
        return;
    }
    NPError rc = getEntryPoints(&m_funcs);
    if (rc != NPERR_NO_ERROR) {
        m_error = "NP_GetEntryPoints answered " + std::to_string(rc);
        return;
    }
    rc = initialize(m_browser.table());
    if (rc != NPERR_NO_ERROR) {
        m_error = "NP_Initialize answered " + std::to_string(rc);
        return;
    }
    m_initialized = true;
}

NpapiWinHost::~NpapiWinHost() {
    // The page closes: instances a test left alive (a failed assertion) end before the
    // module goes, or their objects would outlive its code.
    for (int which = 0; which < 2 && m_initialized; ++which) {
        NPP npp = m_browser.instance(which);
        if (npp->pdata)
            destroyInstance(npp);
    }
    if (m_initialized)
        m_shutdown();
    if (m_module)
        FreeLibrary(m_module);
    for (HWND w : m_pluginWindows)
        DestroyWindow(w);
    m_browser.asyncCallQueued = nullptr;
    m_browser.withNetscapeWindow(nullptr);
    if (m_browserWindow)
        DestroyWindow(m_browserWindow);
    pumpOnce();
    if (m_boxHook)
        UnhookWindowsHookEx(m_boxHook);
}

std::vector<std::string> NpapiWinHost::messageBoxes() {
    return g_messageBoxes;
}

NPError NpapiWinHost::newInstance(NPP npp, const EmbedAttributes& attributes, const char* mimeType) {
    return m_funcs.newp(const_cast<char*>(mimeType), npp, NP_EMBED, attributes.count(),
                        const_cast<char**>(attributes.argn.data()), const_cast<char**>(attributes.argv.data()),
                        nullptr);
}

NPError NpapiWinHost::destroyInstance(NPP npp) {
    const NPError rc = m_funcs.destroy(npp, nullptr);
    m_browser.destroyInstance(npp);
    return rc;
}

HWND NpapiWinHost::makePluginWindow(int width, int height) {
    HWND window = CreateWindowExW(0, kPluginClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 10, 10, width,
                                  height, m_browserWindow, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window)
        m_pluginWindows.push_back(window);
    return window;
}

WNDPROC NpapiWinHost::pluginWindowClassProc() {
    return &countingProc;
}

int NpapiWinHost::messagesAtClassProc(HWND window, UINT message) {
    auto it = g_classProcMessages.find({window, message});
    return it == g_classProcMessages.end() ? 0 : it->second;
}

LRESULT CALLBACK NpapiWinHost::browserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunAsyncCalls) {
        auto* host = reinterpret_cast<NpapiWinHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (host)
            host->m_browser.runPendingCalls();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void NpapiWinHost::pumpOnce() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool NpapiWinHost::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pumpOnce();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

}} // namespace orv::test
