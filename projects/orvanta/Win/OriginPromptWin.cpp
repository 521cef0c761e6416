#include "pin/OriginPrompt.h"

#include "utf8_tools.h"

#include <windows.h>

namespace orv {

OriginAnswer askOriginPermission(const std::string& origin) {
    const std::wstring text = FB::utf8_to_wstring(originPromptText(origin));
    const std::wstring caption = FB::utf8_to_wstring(kOriginPromptCaption);
    // No is the default button: a stray Enter must not hand the token to a site.
    switch (MessageBoxW(nullptr, text.c_str(), caption.c_str(),
                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND)) {
    case IDYES:
        return OriginAnswer::Allow;
    case IDNO:
        return OriginAnswer::Deny;
    default:
        return OriginAnswer::NoAnswer;
    }
}

} // namespace orv
