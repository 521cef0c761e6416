#include "plugin/orvanta.h"

#include "BrowserHost.h"
#include "AttachedEvent.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginWindow.h"
#include "api/orvantaAPI.h"
#include "consent/PageConsent.h"
#include "plugin/WindowMode.h"
#include "token/Pkcs11Session.h"

#include <cstring>

namespace orv {

orvanta::orvanta() = default;

orvanta::~orvanta() {
    m_api.reset();
    if (m_host)
        m_host->freeRetainedObjects();
    if (tokenState().pkcs11Module) {
        p11UnloadModule(tokenState().pkcs11Module, tokenState().funcList);
        forgetModule();
    }
}

bool orvanta::handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) {
    auto* window = dynamic_cast<FB::PluginWindow*>(source);
    if (!window || !event)
        return false;
    if (auto* e = event->get<FB::MouseDownEvent>())
        return onMouseDown(e, window);
    if (auto* e = event->get<FB::MouseUpEvent>())
        return onMouseUp(e, window);
    if (auto* e = event->get<FB::MouseMoveEvent>())
        return onMouseMove(e, window);
    if (auto* e = event->get<FB::AttachedEvent>())
        return onWindowAttached(e, window);
    if (auto* e = event->get<FB::DetachedEvent>())
        return onWindowDetached(e, window);
    return false;
}

void orvanta::onPluginReady() {}

FB::JSAPIPtr orvanta::createJSAPI() {
    auto self = std::static_pointer_cast<orvanta>(shared_from_this());
    return std::make_shared<orvantaAPI>(self, m_host);
}

bool orvanta::isWindowless() {
    return platformRunsWindowless();
}

bool orvanta::onMouseDown(FB::MouseDownEvent*, FB::PluginWindow*) {
    return false;
}

bool orvanta::onMouseUp(FB::MouseUpEvent*, FB::PluginWindow*) {
    return false;
}

bool orvanta::onMouseMove(FB::MouseMoveEvent*, FB::PluginWindow*) {
    return false;
}

bool orvanta::onWindowAttached(FB::AttachedEvent*, FB::PluginWindow*) {
    // One share of the module per object: a second attach without a detach would raise
    // the process-wide count that one detach cannot lower again.
    if (tokenState().pkcs11Module || m_moduleAwaitsConsent)
        return false;
    // No prompt here: a page that only embeds the plug-in is not put to the person. It is
    // asked on the page's first token call, and the module loaded then.
    if (pluginObjectsCheckOrigin() && !processOriginGate().allowedWithoutAsking(pageOrigin())) {
        m_moduleAwaitsConsent = true;
        return false;
    }
    loadModule();
    return false;
}

std::string orvanta::admitPage() {
    if (!pluginObjectsCheckOrigin())
        return std::string();
    std::string refusal = processOriginGate().check(pageOrigin());
    if (refusal.empty() && m_moduleAwaitsConsent) {
        m_moduleAwaitsConsent = false;
        loadModule();
    }
    return refusal;
}

const std::string& orvanta::pageOrigin() {
    if (!m_originRead) {
        m_origin = documentOrigin(m_host);
        m_originRead = true;
    }
    return m_origin;
}

void orvanta::loadModule() {
    TokenState& t = tokenState();
    // A failure has shown its message box; the token methods then answer -51 or -10.
    p11LoadModule(&t.pkcs11Module, &t.funcList, &t.containers);
    t.slotIndex = 0;
}

bool orvanta::onWindowDetached(FB::DetachedEvent*, FB::PluginWindow*) {
    m_moduleAwaitsConsent = false;
    TokenState& t = tokenState();
    p11UnloadModule(t.pkcs11Module, t.funcList);
    // The function list, session and listing belonged to this object's share of the module.
    // Kept, they would let the page call through a module that another object may have
    // freed and loaded anew since.
    forgetModule();
    return false;
}

void orvanta::forgetModule() {
    TokenState& t = tokenState();
    t.funcList = nullptr;
    t.pkcs11Module = nullptr;
    t.session = CK_INVALID_HANDLE;
    t.slotIndex = 0;
    std::memset(t.slotList, 0, sizeof t.slotList);
    p11ResetContainers(&t.containers);
}

} // namespace orv
