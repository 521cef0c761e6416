#pragma once
// The person's permission for a page origin to use the token, asked through the same
// machinery as the PIN (a pinentry program on Linux, a message box on Windows). The native
// messaging host asks once per origin and remembers the answer.

#include <string>

namespace orv {

enum class OriginAnswer { Allow, Deny, Dismissed, NoAnswer };

// Dismissed when the person closed the prompt without saying; NoAnswer when no prompt could
// be shown (no pinentry, no display). No single key press allows: the default button (what
// Enter presses) denies.
OriginAnswer askOriginPermission(const std::string& origin);

// The prompt's texts (UTF-8).
extern const char* const kOriginPromptCaption;
extern const char* const kOriginAllowText;
extern const char* const kOriginDenyText;
extern const char* const kOriginLaterText;
// "Сайт <origin> просит доступ к токену. Разрешить?"
std::string originPromptText(const std::string& origin);

} // namespace orv
