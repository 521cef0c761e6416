#include "ConnectionPlugin.h"

#include "api/orvantaAPI.h"
#include "token/Pkcs11Session.h"

#include <memory>

namespace orv { namespace host {

ConnectionPlugin::ConnectionPlugin(const FB::BrowserHostPtr& host)
    : m_owner(std::make_shared<TokenOwner>()) {
    TokenState& t = m_owner->tokenState();
    // A failure has shown its box; the page's token calls then answer -51 or -10.
    p11LoadModule(&t.pkcs11Module, &t.funcList, &t.containers);
    t.slotIndex = 0;
    m_root = std::make_shared<orvantaAPI>(m_owner, host);
}

ConnectionPlugin::~ConnectionPlugin() {
    m_root.reset();
    TokenState& t = m_owner->tokenState();
    p11UnloadModule(t.pkcs11Module, t.funcList);
}

}} // namespace orv::host
