#include "NpapiPluginWin.h"

#include "FactoryBase.h"
#include "NpapiBrowserHost.h"
#include "PluginWindowWin.h"
#include "PluginWindowlessWin.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

namespace FB { namespace Npapi {

std::string pluginModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&pluginModulePath), &module))
        return std::string();
    wchar_t wide[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(module, wide, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

NpapiPluginWin::NpapiPluginWin(const NpapiBrowserHostPtr& host, const std::string& mimetype)
    : NpapiPlugin(host, mimetype) {
    PluginCore::setPlatform("Windows", "NPAPI");
    setFilesystemPath(pluginModulePath());
}

NpapiPluginWin::~NpapiPluginWin() {
    clearWindow();
}

void NpapiPluginWin::clearWindow() {
    if (pluginMain && m_window && pluginMain->getWindow() == m_window.get())
        pluginMain->ClearWindow();
    m_window.reset();
}

NPError NpapiPluginWin::SetWindow(NPWindow* window) {
    if (!window || !window->window) {
        clearWindow();
        return NPERR_NO_ERROR;
    }
    if (pluginMain->isWindowless()) {
        if (m_window && !dynamic_cast<PluginWindowlessWin*>(m_window.get()))
            clearWindow();
        auto* windowless = static_cast<PluginWindowlessWin*>(m_window.get());
        const bool created = !windowless;
        if (created) {
            windowless = getFactoryInstance()->createPluginWindowless(WindowContextWindowless(nullptr));
            m_window.reset(windowless);
            HWND browserWindow = nullptr;
            if (m_npHost->GetValue(NPNVnetscapeWindow, &browserWindow) == NPERR_NO_ERROR)
                windowless->setHWND(browserWindow);
        }
        windowless->setWindowPosition(window->x, window->y, browserLength(window->width),
                                      browserLength(window->height));
        windowless->setWindowClipping(window->clipRect.top, window->clipRect.left, window->clipRect.bottom,
                                      window->clipRect.right);
        if (created) {
            windowless->setInvalidateWindowFunc([this](uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
                onInvalidateWindow(left, top, right, bottom);
            });
            pluginMain->SetWindow(windowless);
            setReadyOnce();
        }
        return NPERR_NO_ERROR;
    }

    HWND hwnd = static_cast<HWND>(window->window);
    auto* windowed = dynamic_cast<PluginWindowWin*>(m_window.get());
    if (m_window && (!windowed || windowed->getHWND() != hwnd))
        clearWindow();
    if (m_window)
        return NPERR_NO_ERROR;
    HWND browserWindow = nullptr;
    m_npHost->GetValue(NPNVnetscapeWindow, &browserWindow);
    windowed = getFactoryInstance()->createPluginWindowWin(WindowContextWin(hwnd));
    m_window.reset(windowed);
    windowed->setBrowserHWND(browserWindow);
    pluginMain->SetWindow(windowed);
    setReadyOnce();
    return NPERR_NO_ERROR;
}

int16_t NpapiPluginWin::HandleEvent(void* event) {
    auto* windowless = dynamic_cast<PluginWindowlessWin*>(m_window.get());
    if (!windowless || !event)
        return 0;
    const NPEvent* e = static_cast<const NPEvent*>(event);
    LRESULT result = 0;
    if (!windowless->handleWindowlessEvent(e->event, e->wParam, e->lParam, result))
        return 0;
    // A handled event's result must fit the browser's 16 bits; any other is not handled.
    if (result < std::numeric_limits<int16_t>::min() || result > std::numeric_limits<int16_t>::max())
        return 0;
    return static_cast<int16_t>(result);
}

void NpapiPluginWin::onInvalidateWindow(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
    NPRect rect;
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<uint16_t>(bottom - top);
    rect.right = static_cast<uint16_t>(right - left);
    if (m_npHost->isMainThread()) {
        m_npHost->InvalidateRect(rect);
        return;
    }
    NpapiBrowserHostPtr host = m_npHost;
    host->ScheduleOnMainThread(host, [host, rect]() { host->InvalidateRect(rect); });
}

}} // namespace FB::Npapi
