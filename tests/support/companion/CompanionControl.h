#ifndef ORVANTA_COMPANION_CONTROL_H
#define ORVANTA_COMPANION_CONTROL_H
/*
 * The olvgui companion doubles (tests only; Linux .so and Windows .dll).
 *
 *   <testbin>/companion-ok/olvgui.{so,dll}         exports ShowPinCodeWindow: answers with a
 *                                                  configured PIN and result, counts its calls
 *   <testbin>/companion-noexport/olvgui.{so,dll}   a companion without ShowPinCodeWindow
 *
 * The plug-in loads "olvgui" by bare file name with the system's normal search. Both
 * systems hand a bare-name load a module of that name that is already loaded, wherever it
 * came from (Linux by the double's SONAME olvgui.so, Windows by its base name), so a test
 * installs a double by loading it by full path first: orv::test::CompanionDouble does that.
 * The plug-in never frees its companion, so a process keeps the double it installed: run
 * "no companion", "companion-ok" and "companion-noexport" cases in separate processes.
 *
 * Exports of both doubles (C linkage, cdecl): olvgui_double_kind.
 * Exports of companion-ok: ShowPinCodeWindow and the olvgui_double_* control functions.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Read on every ShowPinCodeWindow call unless olvgui_double_configure was called:
 *   ORVANTA_OLVGUI_PIN      the PIN text (default "123456", SoftHsmToken's user PIN)
 *   ORVANTA_OLVGUI_RESULT   the return value, decimal (default 1)
 *   ORVANTA_OLVGUI_LENGTH   the pinLength written, decimal (default: the PIN's length) */
#define OLVGUI_DOUBLE_PIN_ENV "ORVANTA_OLVGUI_PIN"
#define OLVGUI_DOUBLE_RESULT_ENV "ORVANTA_OLVGUI_RESULT"
#define OLVGUI_DOUBLE_LENGTH_ENV "ORVANTA_OLVGUI_LENGTH"

/* "ok" or "noexport". */
typedef const char* (*olvgui_double_kind_fn)(void);

/* The companion's contract: writes the PIN (at most 32 bytes, no terminator unless it
 * fits) and its length, returns the result; a zero result writes nothing. A configured
 * length outside 0..32 is written as it is (a misbehaving companion) while at most 32
 * bytes of text are. */
typedef int32_t (*ShowPinCodeWindow_fn)(char* pinText, int32_t* pinLength);

/* Sets PIN bytes (`pin`, `pinBytes` of them, may hold zeros; copied), the pinLength to
 * report and the result, overriding the environment until olvgui_double_reset. */
typedef void (*olvgui_double_configure_fn)(const char* pin, int32_t pinBytes, int32_t reportedLength,
                                           int32_t result);
/* Number of ShowPinCodeWindow calls since load or the last reset. */
typedef int32_t (*olvgui_double_calls_fn)(void);
/* Back to the environment's configuration; the count to 0. */
typedef void (*olvgui_double_reset_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
