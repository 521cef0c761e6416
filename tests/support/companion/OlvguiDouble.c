/* companion-ok/olvgui: a PIN window that answers with what the test configured. */
#include "CompanionControl.h"

#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#define DOUBLE_EXPORT __declspec(dllexport)
#else
#define DOUBLE_EXPORT __attribute__((visibility("default")))
#endif

#define PIN_TEXT_SIZE 32

static int32_t calls;
static int configured;
static char configuredPin[64];
static int32_t configuredBytes;
static int32_t configuredLength;
static int32_t configuredResult;

static int32_t envNumber(const char* name, int32_t fallback)
{
    const char* text = getenv(name);
    return text && *text ? (int32_t)strtol(text, NULL, 10) : fallback;
}

DOUBLE_EXPORT const char* olvgui_double_kind(void)
{
    return "ok";
}

DOUBLE_EXPORT int32_t ShowPinCodeWindow(char* pinText, int32_t* pinLength)
{
    const char* pin;
    int32_t bytes, length, result;
    ++calls;
    if (configured) {
        pin = configuredPin;
        bytes = configuredBytes;
        length = configuredLength;
        result = configuredResult;
    } else {
        pin = getenv(OLVGUI_DOUBLE_PIN_ENV);
        if (!pin)
            pin = "123456";
        bytes = (int32_t)strlen(pin);
        length = envNumber(OLVGUI_DOUBLE_LENGTH_ENV, bytes);
        result = envNumber(OLVGUI_DOUBLE_RESULT_ENV, 1);
    }
    if (result == 0)
        return 0;
    if (bytes > PIN_TEXT_SIZE)
        bytes = PIN_TEXT_SIZE;
    if (pinText && bytes > 0)
        memcpy(pinText, pin, (size_t)bytes);
    if (pinText && bytes < PIN_TEXT_SIZE)
        pinText[bytes] = 0;
    if (pinLength)
        *pinLength = length;
    return result;
}

DOUBLE_EXPORT void olvgui_double_configure(const char* pin, int32_t pinBytes, int32_t reportedLength,
                                           int32_t result)
{
    if (pinBytes < 0)
        pinBytes = 0;
    if (pinBytes > (int32_t)sizeof configuredPin)
        pinBytes = (int32_t)sizeof configuredPin;
    memset(configuredPin, 0, sizeof configuredPin);
    if (pin && pinBytes > 0)
        memcpy(configuredPin, pin, (size_t)pinBytes);
    configuredBytes = pinBytes;
    configuredLength = reportedLength;
    configuredResult = result;
    configured = 1;
}

DOUBLE_EXPORT int32_t olvgui_double_calls(void)
{
    return calls;
}

DOUBLE_EXPORT void olvgui_double_reset(void)
{
    calls = 0;
    configured = 0;
}
