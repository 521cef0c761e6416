#include "pin/PinEntry.h"

#include "PlatformModule.h"
#include "pin/Companion.h"
#include "logging.h"

#include <cstring>
#include <utility>

namespace orv {

char pinText[kPinTextSize] = {};
std::int32_t pinLength = 0;

const char* const kPinCaption = "Ввод пин-кода";
const char* const kPinLabel = "Введите пин-код";
const char* const kPinOkText = "OK";
const char* const kPinCancelText = "Отмена";

void secureWipe(void* data, std::size_t size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (size--)
        *p++ = 0;
}

namespace {

std::string& requestOrigin() {
    static std::string origin;
    return origin;
}

} // namespace

void setPinRequestOrigin(const std::string& origin) {
    requestOrigin() = origin;
}

const std::string& pinRequestOrigin() {
    return requestOrigin();
}

std::string pinOriginText() {
    return requestOrigin().empty() ? std::string() : "Сайт: " + requestOrigin();
}

namespace {

void wipePinBuffer() {
    secureWipe(pinText, sizeof pinText);
    pinLength = 0;
}

PinEntryHandler& installedEntry() {
    static PinEntryHandler handler;
    return handler;
}

bool builtInPinEntry() {
    // PIN requests come from the browser's main thread only: no lock.
    if (installedEntry())
        return installedEntry()();
    return showBuiltInPinEntry();
}

} // namespace

PinEntryHandler setPinEntryHandler(PinEntryHandler handler) {
    std::swap(installedEntry(), handler);
    return handler;
}

int askPin(unsigned char* buffer, std::int32_t* length) {
    if (!buffer || !length)
        return 0;
    // The process-wide buffer is wiped on every way out, an entry that throws included.
    struct WipeOnExit {
        ~WipeOnExit() { wipePinBuffer(); }
    } wipeOnExit;

    // The companion is looked for on every request and never freed: it may keep windows or
    // threads of its own alive.
    ModuleHandle companion = loadCompanion("olvgui");
    if (companion) {
        auto show = reinterpret_cast<ShowPinCodeWindowFn>(
            moduleSymbol(companion, "ShowPinCodeWindow"));
        if (!show) {
            // An installed companion without the export means cancel: the product ships the
            // companion instead of the built-in entry, so that one is not offered.
            FBLOG_WARN("PinEntry", "olvgui has no ShowPinCodeWindow");
            return 0;
        }
        if (show(pinText, &pinLength) == 0)
            return 0;
    } else if (!builtInPinEntry()) {
        return 0;
    }

    // The companion promises 0..32 bytes; a length outside that cannot be copied safely.
    if (pinLength < 0 || pinLength > static_cast<std::int32_t>(kPinTextSize)) {
        FBLOG_WARN("PinEntry", "PIN length out of range: " << pinLength);
        return 0;
    }
    std::memcpy(buffer, pinText, static_cast<std::size_t>(pinLength));
    *length = pinLength;
    return 1;
}

} // namespace orv
