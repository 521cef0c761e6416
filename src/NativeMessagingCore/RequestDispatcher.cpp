#include "RequestDispatcher.h"

#include "JSAPI.h"
#include "JSExceptions.h"
#include "JsonVariant.h"
#include "NativeMessageFrame.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <utility>

namespace FB { namespace NativeMessaging {

namespace {

using nlohmann::json;

std::string errorAnswer(const json& id, const std::string& message) {
    return jsonText(json{{"id", id}, {"error", message}});
}

// Clears the origin when the call is over, however it ends.
class ScopedOrigin {
public:
    ScopedOrigin(const RequestDispatcher::OriginScope& scope, const std::string& origin)
        : m_scope(scope) {
        if (m_scope)
            m_scope(origin);
    }
    ~ScopedOrigin() {
        if (m_scope)
            m_scope(std::string());
    }
    ScopedOrigin(const ScopedOrigin&) = delete;
    ScopedOrigin& operator=(const ScopedOrigin&) = delete;

private:
    const RequestDispatcher::OriginScope& m_scope;
};

} // namespace

RequestDispatcher::RequestDispatcher(RootSource rootSource, Consent::OriginGate& gate, OriginScope scope)
    : m_rootSource(std::move(rootSource)), m_gate(gate), m_scope(std::move(scope)) {}

void RequestDispatcher::setStatusSource(std::string hostVersion, TokenProbe probe) {
    m_hostVersion = std::move(hostVersion);
    m_probe = std::move(probe);
}

JSAPIPtr RequestDispatcher::root() {
    if (!m_root && m_rootSource) {
        m_root = m_rootSource();
        m_rootSource = nullptr;
    }
    return m_root;
}

VariantMap RequestDispatcher::status(const std::string& origin) {
    VariantMap answer;
    answer["host"] = m_hostVersion;
    std::string refusal;
    switch (m_gate.standing(origin, refusal)) {
    case Consent::OriginGate::Standing::Refused:
        answer["origin"] = std::string("refused");
        answer["reason"] = refusal;
        return answer;
    case Consent::OriginGate::Standing::NotAsked:
        answer["origin"] = std::string("not-asked");
        return answer;
    case Consent::OriginGate::Standing::Allowed:
        answer["origin"] = std::string("allowed");
        break;
    }
    if (m_probe) {
        const VariantMap found = m_probe([this] { return root(); });
        for (const auto& entry : found)
            answer.insert(entry);
    }
    return answer;
}

std::string RequestDispatcher::refusal(const std::string& message) {
    return errorAnswer(nullptr, message);
}

std::string RequestDispatcher::handle(const std::string& requestText) {
    json request;
    try {
        request = json::parse(requestText);
    } catch (const json::exception& e) {
        return errorAnswer(nullptr, std::string("The request is not valid JSON: ") + e.what());
    }
    if (!request.is_object())
        return errorAnswer(nullptr, "The request is not a JSON object");

    const auto idMember = request.find("id");
    if (idMember == request.end() || !(idMember->is_number() || idMember->is_string()))
        return errorAnswer(nullptr, "The request has no id (a number or a string)");
    const json id = *idMember;

    const auto origin = request.find("origin");
    if (origin == request.end() || !origin->is_string())
        return errorAnswer(id, "The request does not name the page's origin");
    const auto query = request.find("query");
    if (query != request.end()) {
        if (request.contains("method") || request.contains("get"))
            return errorAnswer(id, "The request is a query and names a member too");
        if (*query != "status")
            return errorAnswer(id, "The request asks an unknown query (only \"status\" is known)");
        try {
            return jsonText(json{{"id", id}, {"result", variantToJson(variant(status(origin->get<std::string>())))}});
        } catch (const std::exception& e) {
            return errorAnswer(id, std::string("The status could not be found: ") + e.what());
        }
    }
    const auto method = request.find("method");
    const auto property = request.find("get");
    const bool isCall = method != request.end();
    if (isCall == (property != request.end()))
        return errorAnswer(id, "The request names neither a method nor a property, or both");
    const json& member = isCall ? *method : *property;
    if (!member.is_string())
        return errorAnswer(id, "The member name is not a string");
    const auto args = request.find("args");
    if (args != request.end() && !args->is_array() && !args->is_null())
        return errorAnswer(id, "The arguments are not an array");

    const std::string refused = m_gate.check(origin->get<std::string>());
    if (!refused.empty())
        return errorAnswer(id, refused);

    json answer{{"id", id}};
    try {
        if (!root())
            return errorAnswer(id, "The plugin is invalid");
        variant result;
        {
            ScopedOrigin scope(m_scope, origin->get<std::string>());
            if (isCall) {
                const VariantList list =
                    args == request.end() || args->is_null() ? VariantList() : jsonToVariantList(*args);
                result = m_root->Invoke(member.get<std::string>(), list);
            } else {
                result = m_root->GetProperty(member.get<std::string>());
            }
        }
        if (!result.empty())
            answer["result"] = variantToJson(result);
    } catch (const script_error& e) {
        return errorAnswer(id, e.what());
    } catch (const bad_variant_cast& e) {
        return errorAnswer(id, "Could not convert from " + e.from + " to " + e.to);
    } catch (const std::exception& e) {
        return errorAnswer(id, e.what());
    } catch (...) {
        return errorAnswer(id, "Unknown error");
    }
    std::string text = jsonText(answer);
    if (text.size() > kMaxMessageToBrowser)
        return errorAnswer(id, "The answer is " + std::to_string(text.size()) +
                                   " bytes long, more than the browser accepts");
    return text;
}

}} // namespace FB::NativeMessaging
