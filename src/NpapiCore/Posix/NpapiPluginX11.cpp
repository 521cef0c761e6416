#include "NpapiPluginX11.h"

#include "FactoryBase.h"
#include "NpapiBrowserHost.h"
#include "PluginWindowlessX11.h"

#include <dlfcn.h>

namespace FB { namespace Npapi {

namespace {

// The X11 form of NPWindow's ws_info (NPSetWindowCallbackStruct): only the display is used.
struct SetWindowCallbackStruct {
    int32_t type;
    Display* display;
    void* visual;
    unsigned long colormap;
    unsigned int depth;
};

} // namespace

std::string pluginModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pluginModulePath), &info) && info.dli_fname)
        return info.dli_fname;
    return std::string();
}

NpapiPluginX11::NpapiPluginX11(const NpapiBrowserHostPtr& host, const std::string& mimetype)
    : NpapiPlugin(host, mimetype) {
    PluginCore::setPlatform("Linux", "NPAPI");
    setFilesystemPath(pluginModulePath());
}

NpapiPluginX11::~NpapiPluginX11() {
    // The plug-in object stops observing the window before the window goes.
    clearWindow();
}

void NpapiPluginX11::clearWindow() {
    if (pluginMain && m_window && pluginMain->getWindow() == m_window.get())
        pluginMain->ClearWindow();
    m_window.reset();
}

NPError NpapiPluginX11::SetWindow(NPWindow* window) {
    if (!window) {
        clearWindow();
        return NPERR_NO_ERROR;
    }
    Display* display = nullptr;
    if (window->ws_info)
        display = static_cast<const SetWindowCallbackStruct*>(window->ws_info)->display;
    const XDrawable drawable = static_cast<XDrawable>(reinterpret_cast<std::uintptr_t>(window->window));

    const bool created = !m_window;
    if (created) {
        m_window.reset(getFactoryInstance()->createPluginWindowless(WindowContextWindowless(display, drawable)));
        XDrawable browserWindow = 0;
        if (m_npHost->GetValue(NPNVnetscapeWindow, &browserWindow) == NPERR_NO_ERROR)
            m_window->setBrowserWindow(browserWindow);
    } else if (display || drawable) {
        m_window->setDrawable(display ? display : m_window->getDisplay(), drawable ? drawable : m_window->getDrawable());
    }
    m_window->setWindowPosition(window->x, window->y, browserLength(window->width),
                                browserLength(window->height));
    m_window->setWindowClipping(window->clipRect.top, window->clipRect.left, window->clipRect.bottom,
                                window->clipRect.right);
    if (created) {
        m_window->setInvalidateWindowFunc(
            [this](uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
                onInvalidateWindow(left, top, right, bottom);
            });
        pluginMain->SetWindow(m_window.get());
        setReadyOnce();
    }
    return NPERR_NO_ERROR;
}

int16_t NpapiPluginX11::HandleEvent(void* event) {
    if (!event || !m_window)
        return 0;
    return m_window->handleX11Event(*static_cast<const XEvent*>(event)) ? 1 : 0;
}

void NpapiPluginX11::onInvalidateWindow(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
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
