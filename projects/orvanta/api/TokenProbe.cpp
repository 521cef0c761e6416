#include "api/TokenProbe.h"

#include "JSAPI.h"
#include "PlatformUi.h"
#include "token/Pkcs11Session.h"

#include <cstdint>
#include <string>

namespace orv {

namespace {

// Puts the previous box back however the probe ends.
class QuietBoxes {
public:
    explicit QuietBoxes(std::string& first)
        : m_previous(setMessageBoxHandler([&first](const std::string& text, const std::string&) {
              if (first.empty())
                  first = text;
          })) {}
    ~QuietBoxes() { setMessageBoxHandler(m_previous); }
    QuietBoxes(const QuietBoxes&) = delete;
    QuietBoxes& operator=(const QuietBoxes&) = delete;

private:
    MessageBoxHandler m_previous;
};

bool isModuleFailure(std::int32_t status) {
    return status == p11status::kModuleLoadFailed || status == p11status::kModuleNotLoaded ||
           status == p11status::kNoFunctionList || status == p11status::kBadArgument;
}

} // namespace

FB::VariantMap probeTokenQuietly(const std::function<FB::JSAPIPtr()>& root) {
    FB::VariantMap found;
    std::string boxText;
    FB::variant answer;
    {
        QuietBoxes quiet(boxText);
        // Making the root object attaches the window, which loads the module.
        const FB::JSAPIPtr api = root ? root() : FB::JSAPIPtr();
        if (!api) {
            found["module"] = std::string("failed");
            found["moduleError"] = std::string("The plugin is invalid");
            return found;
        }
        answer = api->Invoke("olvIsTokenPresentAndOK", FB::VariantList());
    }
    if (answer.is_of_type<bool>() && answer.cast<bool>()) {
        found["module"] = std::string("loaded");
        found["token"] = std::string("present");
        return found;
    }
    const std::int32_t status = answer.is_of_type<long>() ? static_cast<std::int32_t>(answer.cast<long>())
                                                          : p11status::kBadArgument;
    if (isModuleFailure(status)) {
        found["module"] = std::string("failed");
        if (!boxText.empty())
            found["moduleError"] = boxText;
        found["moduleStatus"] = static_cast<long>(status);
        return found;
    }
    found["module"] = std::string("loaded");
    if (status == p11status::kNoToken) {
        found["token"] = std::string("absent");
    } else {
        found["token"] = std::string("failed");
        found["tokenStatus"] = static_cast<long>(status);
        if (!boxText.empty())
            found["tokenError"] = boxText;
    }
    return found;
}

} // namespace orv
