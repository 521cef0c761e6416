#pragma once
// PIN entry: the companion module "olvgui" gets the first chance to ask for the PIN; without
// it the built-in entry of this platform asks (the dialog resource 2101 on Windows, a
// pinentry program elsewhere).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orv {

constexpr std::size_t kPinTextSize = 32;

// The process-wide PIN buffer the entry writes into; wiped once the PIN has been copied out.
extern char pinText[kPinTextSize];
extern std::int32_t pinLength;

// The companion's export "ShowPinCodeWindow": non-zero when a PIN was entered.
using ShowPinCodeWindowFn = std::int32_t (*)(char* pinText, std::int32_t* pinLength);

// 1 with the PIN copied into `buffer` (room for 32 bytes, no terminator added) and its
// length in *length; 0 on cancel or failure.
int askPin(unsigned char* buffer, std::int32_t* length);

// The built-in entry of this platform: fills pinText and pinLength and returns true when the
// user confirmed. At most kPinTextSize - 1 bytes are kept, followed by a zero.
bool showBuiltInPinEntry();

// A stand-in for the built-in entry (tests): fills pinText and pinLength as the platform's
// entry does and returns whether the user confirmed. An empty one restores the platform's.
// Returns the previous one.
using PinEntryHandler = std::function<bool()>;
PinEntryHandler setPinEntryHandler(PinEntryHandler handler);

// The built-in entry's texts (UTF-8).
extern const char* const kPinCaption;       // window caption
extern const char* const kPinLabel;         // label above the field
extern const char* const kPinOkText;
extern const char* const kPinCancelText;

// The page origin the current request comes from, when the page runs in another process
// (the native messaging host); the built-in entry names it so the person knows which site
// asks. Empty inside the page's own browser, which shows the page itself.
void setPinRequestOrigin(const std::string& origin);
const std::string& pinRequestOrigin();
// The line of the built-in entry that names the origin ("Сайт: <origin>"); empty without one.
std::string pinOriginText();

// Overwrites memory in a way the compiler may not drop.
void secureWipe(void* data, std::size_t size);

} // namespace orv
