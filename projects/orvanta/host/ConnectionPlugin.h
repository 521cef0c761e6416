#pragma once
// The plug-in instance of one native messaging connection, a stop-gap until the plug-in
// object `orvanta` can be made through the factory: it owns the token state as the plug-in
// object does, loads the token module when the connection starts (where a plug-in's window
// attach does) and releases it when the connection ends, and makes the root scriptable
// object. The host uses nothing else of it, so the factory-made object takes its place
// without touching the rest of the host.

#include "APITypes.h"
#include "api/TokenOwner.h"

namespace orv { namespace host {

class ConnectionPlugin {
public:
    explicit ConnectionPlugin(const FB::BrowserHostPtr& host);
    ~ConnectionPlugin();
    ConnectionPlugin(const ConnectionPlugin&) = delete;
    ConnectionPlugin& operator=(const ConnectionPlugin&) = delete;

    FB::JSAPIPtr root() const { return m_root; }

private:
    TokenOwnerPtr m_owner;
    FB::JSAPIPtr m_root;
};

}} // namespace orv::host
