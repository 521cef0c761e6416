#pragma once
// The factory's window operations on Windows: the plug-in's own child window (windowed)
// and the browser's surface (windowless). The caller owns the window it gets.

#include "PluginWindowWin.h"
#include "PluginWindowlessWin.h"

namespace FB {

class FactoryBasePlatform {
public:
    FactoryBasePlatform() = default;
    virtual ~FactoryBasePlatform() = default;
    FactoryBasePlatform(const FactoryBasePlatform&) = delete;
    FactoryBasePlatform& operator=(const FactoryBasePlatform&) = delete;

    virtual PluginWindowWin* createPluginWindowWin(const WindowContextWin& ctx) { return new PluginWindowWin(ctx); }
    virtual PluginWindowlessWin* createPluginWindowless(const WindowContextWindowless& ctx) {
        return new PluginWindowlessWin(ctx);
    }
};

} // namespace FB
