#pragma once
// orvanta: the product's plug-in object, one per plug-in instance on a page. It owns the
// token state its scripting object works on, loads the vendor's PKCS#11 module while it
// has a window and releases it when the window goes, and makes the root scripting object.

#include "PluginCore.h"
#include "api/TokenOwner.h"

#include <string>

namespace FB {
class PluginWindow;
class MouseDownEvent;
class MouseUpEvent;
class MouseMoveEvent;
class AttachedEvent;
class DetachedEvent;
} // namespace FB

namespace orv {

class orvanta : public FB::PluginCore, public TokenOwner {
public:
    orvanta();
    // Releases the root object and the host's retained script objects first; a module
    // share still held (the window was never cleared) is given back.
    ~orvanta() override;

    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) override;
    void onPluginReady() override;
    FB::JSAPIPtr createJSAPI() override;
    // The platform's choice: a real window on Windows; windowless on Linux, where browsers
    // give windowed plug-ins no window.
    bool isWindowless() override;

    virtual bool onMouseDown(FB::MouseDownEvent* event, FB::PluginWindow* window);
    virtual bool onMouseUp(FB::MouseUpEvent* event, FB::PluginWindow* window);
    virtual bool onMouseMove(FB::MouseMoveEvent* event, FB::PluginWindow* window);
    virtual bool onWindowAttached(FB::AttachedEvent* event, FB::PluginWindow* window);
    virtual bool onWindowDetached(FB::DetachedEvent* event, FB::PluginWindow* window);

    // The page's consent, asked on its first token call when it was not given before; the
    // module of a window attached meanwhile is loaded once the page is admitted.
    std::string admitPage() override;

private:
    // Back to the state of an object that never had a window.
    void forgetModule();
    void loadModule();
    // The origin of the document this object is embedded in, read from the browser once.
    const std::string& pageOrigin();

    // A window is attached but the module waits for the page's consent: a page the person
    // has not allowed makes no call into the token module at all.
    bool m_moduleAwaitsConsent = false;
    bool m_originRead = false;
    std::string m_origin;
};

} // namespace orv
