#pragma once
// FB::Npapi::NpapiPluginWin: one NPAPI instance on Windows. It makes the plug-in window
// from the browser's NPWindow - the plug-in's own child window (PluginWindowWin) when
// windowed, the browser's surface (PluginWindowlessWin) when windowless - replaces it
// when the window or the mode changes, routes windowless events to it and asks the
// browser to repaint on behalf of a windowless window.

#include "NpapiPlugin.h"

#include <memory>

namespace FB {
class PluginWindow;
}

namespace FB { namespace Npapi {

class NpapiPluginWin : public NpapiPlugin {
public:
    NpapiPluginWin(const NpapiBrowserHostPtr& host, const std::string& mimetype);
    ~NpapiPluginWin() override;

    NPError SetWindow(NPWindow* window) override;
    int16_t HandleEvent(void* event) override;

    PluginWindow* getWindow() const { return m_window.get(); }

private:
    void clearWindow();
    void onInvalidateWindow(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom);

    std::unique_ptr<PluginWindow> m_window;
};

// The full path of the loaded module that holds this code; empty when it cannot be told.
std::string pluginModulePath();

}} // namespace FB::Npapi
