#pragma once
// A Windows NPAPI browser for tests: loads a plug-in DLL with LoadLibrary, finds
// NP_GetEntryPoints, NP_Initialize and NP_Shutdown by name, hands the plug-in the fake
// browser's function table (of whatever version and size the test made it) and runs the
// browser's main thread: a top-level browser window whose message loop also runs the calls
// queued with NPN_PluginThreadAsyncCall, as a Windows browser does.

#include "FakeNpapiBrowser.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace orv { namespace test {

// Embed attributes as NPP_New receives them (a null value: an attribute without one).
struct EmbedAttributes {
    EmbedAttributes(std::vector<std::string> names, std::vector<const char*> values);
    int16_t count() const { return static_cast<int16_t>(argn.size()); }

    std::vector<std::string> names;
    std::vector<std::string> texts;
    std::vector<char*> argn;
    std::vector<char*> argv;
};

class NpapiWinHost {
public:
    // Loads the module and initialises it against `browser` (NP_GetEntryPoints, then
    // NP_Initialize, as Windows browsers call them). Check loaded() before use.
    NpapiWinHost(const std::wstring& modulePath, FakeNpapiBrowser& browser);
    // NP_Shutdown, then the module is freed; the browser window goes.
    ~NpapiWinHost();
    NpapiWinHost(const NpapiWinHost&) = delete;
    NpapiWinHost& operator=(const NpapiWinHost&) = delete;

    bool loaded() const { return m_module && m_initialized; }
    std::string loadError() const { return m_error; }
    HMODULE module() const { return m_module; }
    NPPluginFuncs& plugin() { return m_funcs; }
    FakeNpapiBrowser& browser() { return m_browser; }
    // The browser's top-level window (what NPNVnetscapeWindow answers).
    HWND browserWindow() const { return m_browserWindow; }

    NPError newInstance(NPP npp, const EmbedAttributes& attributes,
                        const char* mimeType = "application/x-orvanta");
    NPError destroyInstance(NPP npp);

    // A child window of the browser window of a class whose procedure counts what reaches it
    // (that is what a plug-in's subclassing takes away); as the browser makes for a windowed
    // plug-in. Destroyed with the host.
    HWND makePluginWindow(int width = 300, int height = 100);
    static WNDPROC pluginWindowClassProc();
    static int messagesAtClassProc(HWND window, UINT message);

    // Runs the main thread's message loop (window messages, then queued async calls) until
    // `done` answers true or the time is up; answers `done`.
    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    // Runs what is waiting now, without waiting for more.
    void pumpOnce();

    // Message boxes the plug-in showed on this thread since the host began, as
    // "caption: text"; each is answered at once with its default button, as a user would
    // (a modal box left open would stop the test).
    static std::vector<std::string> messageBoxes();

private:
    static LRESULT CALLBACK browserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    FakeNpapiBrowser& m_browser;
    HMODULE m_module = nullptr;
    bool m_initialized = false;
    std::string m_error;
    NPPluginFuncs m_funcs;
    NP_ShutdownFunc m_shutdown = nullptr;
    HWND m_browserWindow = nullptr;
    std::vector<HWND> m_pluginWindows;
    HHOOK m_boxHook = nullptr;
};

}} // namespace orv::test
