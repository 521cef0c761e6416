#include "consent/PageConsent.h"

#include "AllowedOrigins.h"
#include "BrowserHost.h"
#include "DOMWindow.h"
#include "PageOrigin.h"
#include "pin/OriginPrompt.h"

#include <atomic>
#include <cstdlib>
#include <exception>

namespace orv {

namespace {

namespace consent = FB::Consent;

std::string pathFrom(const char* variable, std::string (*otherwise)()) {
    const char* named = std::getenv(variable);
    return named && *named ? std::string(named) : otherwise();
}

consent::PromptAnswer askPerson(const std::string& origin) {
    switch (askOriginPermission(origin)) {
    case OriginAnswer::Allow:
        return consent::PromptAnswer::Allow;
    case OriginAnswer::Deny:
        return consent::PromptAnswer::Deny;
    case OriginAnswer::Dismissed:
        return consent::PromptAnswer::Dismissed;
    case OriginAnswer::NoAnswer:
        break;
    }
    return consent::PromptAnswer::NoAnswer;
}

struct ProcessGate {
    ProcessGate()
        : person(pathFrom("ORVANTA_ALLOWED_ORIGINS", consent::defaultAllowedOriginsPath)),
          machine(pathFrom("ORVANTA_MACHINE_ALLOWED_ORIGINS", consent::machineAllowedOriginsPath)),
          gate(person, askPerson) {
        gate.setMachineList(&machine);
    }
    consent::AllowedOrigins person;
    consent::AllowedOrigins machine;
    consent::OriginGate gate;
};

std::atomic<bool> objectsCheckOrigin{true};

} // namespace

FB::Consent::OriginGate& processOriginGate() {
    static ProcessGate gate;
    return gate.gate;
}

void setPluginObjectsCheckOrigin(bool check) {
    objectsCheckOrigin = check;
}

bool pluginObjectsCheckOrigin() {
    return objectsCheckOrigin;
}

std::string documentOrigin(const FB::BrowserHostPtr& host) {
    if (!host)
        return "null";
    try {
        const FB::DOM::WindowPtr window = host->getDOMWindow();
        if (!window)
            return "null";
        return FB::Consent::originFromUrl(window->getLocation());
    } catch (const std::exception&) {
        return "null";
    }
}

} // namespace orv
