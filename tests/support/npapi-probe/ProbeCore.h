#pragma once
// The probe's plug-in object and the factory that makes it for every instance.

#include "PluginCore.h"

#include <memory>

namespace orv { namespace probe {

class ProbeCore : public FB::PluginCore {
public:
    bool handleEvent(FB::PluginEvent*, FB::PluginEventSource*) override { return false; }
    FB::JSAPIPtr createJSAPI() override;
};

}} // namespace orv::probe
