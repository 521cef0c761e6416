#pragma once
// One request from the page, one answer: {id, origin, method, args} runs the root
// scriptable object's Invoke with the arguments as variants ({id, origin, get} reads a
// property), and the answer is {id, result} or {id, error} with the framework's message.
// A request that cannot be read still gets an answer, with id null when it has none.
//
// {id, origin, query: "status"} tells how this installation stands for the page without
// asking the person anything: {host: the host's version, origin: "allowed" | "not-asked" |
// "refused" (with "reason")}, and for an allowed origin only what the token probe finds
// (the vendor module, the token). An origin the person has not allowed learns nothing of
// the token.
//
// The root object is asked for only once a request has passed the origin gate, so a
// connection from a page that may not use the token never makes a plug-in instance and
// never loads the token module.

#include "APITypes.h"
#include "OriginGate.h"

#include <functional>
#include <string>

namespace FB { namespace NativeMessaging {

class RequestDispatcher {
public:
    // Called with the page's origin right before the root object runs a request of it
    // (the PIN prompt names the origin), and with an empty text after.
    using OriginScope = std::function<void(const std::string& origin)>;

    // Makes the connection's plug-in instance and answers its root object; called once.
    using RootSource = std::function<JSAPIPtr()>;

    // Finds the module's and the token's state for a status request of an allowed origin,
    // given the way to the connection's root object (made on first use). Never logs in.
    using TokenProbe = std::function<VariantMap(const RootSource& root)>;

    RequestDispatcher(RootSource rootSource, Consent::OriginGate& gate, OriginScope scope = OriginScope());

    // What status requests answer: the host's own version, and the probe (none: nothing about
    // the token is told).
    void setStatusSource(std::string hostVersion, TokenProbe probe);

    // The answer's JSON text, at most kMaxMessageToBrowser bytes.
    std::string handle(const std::string& requestText);

    // The answer to a message the host refused before reading it.
    static std::string refusal(const std::string& message);

private:
    JSAPIPtr root();
    VariantMap status(const std::string& origin);

    RootSource m_rootSource;
    JSAPIPtr m_root;
    Consent::OriginGate& m_gate;
    OriginScope m_scope;
    std::string m_hostVersion;
    TokenProbe m_probe;
};

}} // namespace FB::NativeMessaging
