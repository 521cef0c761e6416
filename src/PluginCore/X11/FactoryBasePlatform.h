#pragma once
// The factory's window operation on Linux. Linux NPAPI browsers give a windowed plug-in
// no window, so there is only the windowless one: the browser's drawable and its X
// events. The caller owns the window it gets.

#include "PluginWindowlessX11.h"

namespace FB {

class FactoryBasePlatform {
public:
    FactoryBasePlatform() = default;
    virtual ~FactoryBasePlatform() = default;
    FactoryBasePlatform(const FactoryBasePlatform&) = delete;
    FactoryBasePlatform& operator=(const FactoryBasePlatform&) = delete;

    virtual PluginWindowlessX11* createPluginWindowless(const WindowContextWindowless& ctx) {
        return new PluginWindowlessX11(ctx);
    }
};

} // namespace FB
