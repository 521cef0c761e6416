#pragma once
// FB::Npapi::NpapiPluginX11: one NPAPI instance on Linux. Linux browsers give a windowed
// plug-in no window, so the instance always runs windowless: NPP_SetWindow brings the
// plug-in's place (the window member is null, the display comes in ws_info), the
// drawable arrives with each GraphicsExpose, and the browser's X events reach the
// PluginWindowlessX11 the factory makes.

#include "NpapiPlugin.h"

#include <memory>

namespace FB {
class PluginWindowlessX11;
}

namespace FB { namespace Npapi {

class NpapiPluginX11 : public NpapiPlugin {
public:
    NpapiPluginX11(const NpapiBrowserHostPtr& host, const std::string& mimetype);
    ~NpapiPluginX11() override;

    NPError SetWindow(NPWindow* window) override;
    int16_t HandleEvent(void* event) override;

    PluginWindowlessX11* getWindow() const { return m_window.get(); }

private:
    void clearWindow();
    void onInvalidateWindow(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom);

    std::unique_ptr<PluginWindowlessX11> m_window;
};

// The full path of the loaded module that holds this code; empty when it cannot be told.
std::string pluginModulePath();

}} // namespace FB::Npapi
