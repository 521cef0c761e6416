#ifndef ORVANTA_STANDIN_CONTROL_H
#define ORVANTA_STANDIN_CONTROL_H
/*
 * Control interface of the olpkcs11xsg stand-in (tests only, Linux only).
 *
 * olpkcs11xsg.so is a PKCS#11 v2.x module that forwards every call to a real module (the
 * "target", SoftHSM in our tests), records each call it receives and injects configured
 * faults. A test reaches these functions on the already loaded module with
 *     void* h = dlopen(path, RTLD_NOLOAD | RTLD_NOW);  // or RTLD_NOW to load it
 *     auto fail = (standin_fail_fn)dlsym(h, "standin_fail");
 * or through the C++ wrapper orv::test::Standin (tests/support/token/Standin.h).
 *
 * The types avoid pkcs11.h on purpose: on the platforms we build for, CK_RV, CK_ULONG and
 * the handle types are all `unsigned long`, which is what this interface uses.
 *
 * Pointers returned by the accessors stay valid until the next standin_reset().
 * All functions are thread-safe.
 */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The target module is read from this environment variable when C_GetFunctionList or
 * C_Initialize is called and no target has been set with standin_set_target. */
#define STANDIN_TARGET_ENV "ORVANTA_STANDIN_TARGET"

/* When set, every call received is also appended to this file as a line "<pid> <name>"
 * (for tests that watch a process they did not start, such as a browser's host). */
#define STANDIN_LOG_ENV "ORVANTA_STANDIN_LOG"

/* When set to 1, calls are not kept in memory (standin_calls then sees none); faults and the
 * log file still work. For long runs (a soak of many thousand calls) whose memory is measured:
 * the record would otherwise grow with every call. */
#define STANDIN_NO_RECORD_ENV "ORVANTA_STANDIN_NO_RECORD"

/* When set, C_GetFunctionList writes this text to standard output, as a talkative vendor
 * module might (for the native messaging host, whose standard output is its protocol). */
#define STANDIN_CHATTY_ENV "ORVANTA_STANDIN_CHATTY"

/* Names for standin_oversize. */
#define STANDIN_SLOT_COUNT "slotCount" /* number of slots with a token (C_GetSlotList) */
#define STANDIN_CKA_ID     "CKA_ID"    /* length of every CKA_ID (C_GetAttributeValue) */
#define STANDIN_CKA_VALUE  "CKA_VALUE" /* length of every CKA_VALUE (C_GetAttributeValue) */
#define STANDIN_SIGNATURE  "signature" /* length of every signature (C_Sign) */

/* Clears the call record, every configured fault and every length override. The target
 * and its initialisation state are kept. */
void standin_reset(void);

/* Names the module to forward to (a path for dlopen). NULL goes back to the environment
 * variable. The target is loaded on the first forwarded call and stays loaded for the life
 * of the process (a module is never unloaded, only finalised). */
void standin_set_target(const char* modulePath);
/* The target in effect (set or from the environment); NULL when there is none. */
const char* standin_target(void);

/* Makes the nth call of `function` ("C_Login", ...) counted from now on (1 = the next one)
 * return `rv` without forwarding it; nth = 0 makes every later call of it fail. Several
 * faults may be configured; each fires once (or always, for nth = 0). The failing call is
 * recorded with that rv and forwarded = 0.
 * "C_GetFunctionList" may fail too: a non-zero rv is returned without touching the
 * caller's pointer, and rv = 0 (CKR_OK) means "succeed but give no list" (pointer NULL). */
void standin_fail(const char* function, unsigned nth, unsigned long rv);

/* Makes the module behave as if the value named by `what` (STANDIN_SLOT_COUNT, ...) had
 * `length` elements/bytes, from now until standin_reset. It follows PKCS#11's rules
 * for output buffers: a NULL buffer gets the length; a buffer announced at least that long
 * gets exactly `length` entries/bytes written (the real ones first, then filler); a
 * shorter buffer gets CKR_BUFFER_TOO_SMALL (for attributes: ulValueLen set to
 * CK_UNAVAILABLE_INFORMATION). So a caller that announces more room than it has is caught
 * writing past it (AddressSanitizer), and a careful one sees the module's answer.
 * STANDIN_SLOT_COUNT may also be 0: "no token present". */
void standin_oversize(const char* what, unsigned long length);

/* "The module dropped the session": closes every session that is open in the target
 * (as if the token had been pulled and put back), so the next call on an old handle gets
 * CKR_SESSION_HANDLE_INVALID from the target itself. Returns the number closed. */
int standin_drop_sessions(void);

/* 1 while the target is initialised (a forwarded C_Initialize succeeded and no C_Finalize
 * followed). */
int standin_target_initialized(void);
/* Calls the target's C_Finalize if it is still initialised; returns 1 if it did. Fixtures
 * call it on tear-down: SoftHSM crashes at process exit when C_Finalize was never called.
 * (The module also does it from an exit handler as a last resort.) Not recorded. */
int standin_finalize_target(void);

/* ---- The record: one entry per call received, in order. ---- */

size_t standin_call_count(void);
/* "C_GetFunctionList", "C_Initialize", ...; NULL when `call` is out of range. */
const char* standin_call_name(size_t call);
/* Number of recorded calls named `function`. */
size_t standin_calls_of(const char* function);
/* Index of the nth (1-based) recorded call named `function`; (size_t)-1 when there is none. */
size_t standin_find_call(const char* function, unsigned nth);
/* The rv the caller got. */
unsigned long standin_call_rv(size_t call);
/* 1 when the call reached the target, 0 when an injected fault answered it. */
int standin_call_forwarded(size_t call);

/* A scalar argument or result of a call; returns 1 and sets *value when recorded.
 * Recorded names, by function (the "out" ones only when the call succeeded):
 *   C_Initialize, C_Finalize    argsNull (1 when the argument was NULL)
 *   C_GetSlotList               tokenPresent, listNull, count (in), countOut
 *   C_GetSlotInfo, C_GetTokenInfo, C_GetMechanismList, C_GetMechanismInfo  slot
 *   C_GetSlotInfo               flagsOut
 *   C_OpenSession               slot, flags, applicationNull, notifyNull, sessionOut
 *   C_GetSessionInfo            session, stateOut
 *   C_Login                     session, userType, pinLength, pinNull (bytes: "pin")
 *   C_FindObjectsInit           session (template: "template")
 *   C_FindObjects               session, maxCount, countOut
 *   C_GetAttributeValue         session, object, valuesNull (1 when every pValue was NULL)
 *                               (template: "template", values not kept)
 *   C_SignInit                  session, mechanism, key (bytes: "parameter")
 *   C_Sign                      session, dataLength, signatureNull, signatureLength (in),
 *                               signatureLengthOut (bytes: "data")
 *   C_DestroyObject             session, object
 *   C_GenerateKeyPair           session, mechanism, publicKeyOut, privateKeyOut
 *                               (templates: "public", "private")
 *   every other call on a session: session */
int standin_call_arg(size_t call, const char* name, unsigned long* value);

/* Byte data given to a call ("data" of C_Sign, "pin" of C_Login, "parameter" of the
 * mechanism); NULL when not recorded (a NULL pointer from the caller is not recorded). */
const unsigned char* standin_call_bytes(size_t call, const char* name, size_t* length);

/* A template exactly as the caller passed it ("template", "public", "private").
 * standin_template_size gives the attribute count, or (size_t)-1 when none was recorded
 * (a NULL template pointer with count 0 records 0 attributes). standin_template_attr gives
 * attribute `index`: its type, its ulValueLen, and its value bytes (NULL when the caller's
 * pValue was NULL or, for C_GetAttributeValue, always); returns 0 when out of range. */
size_t standin_template_size(size_t call, const char* which);
int standin_template_attr(size_t call, const char* which, size_t index, unsigned long* type,
                          unsigned long* valueLength, const unsigned char** value);

/* Pointer types for dlsym. */
typedef void (*standin_reset_fn)(void);
typedef void (*standin_set_target_fn)(const char*);
typedef const char* (*standin_target_fn)(void);
typedef void (*standin_fail_fn)(const char*, unsigned, unsigned long);
typedef void (*standin_oversize_fn)(const char*, unsigned long);
typedef int (*standin_drop_sessions_fn)(void);
typedef int (*standin_target_initialized_fn)(void);
typedef int (*standin_finalize_target_fn)(void);
typedef size_t (*standin_call_count_fn)(void);
typedef const char* (*standin_call_name_fn)(size_t);
typedef size_t (*standin_calls_of_fn)(const char*);
typedef size_t (*standin_find_call_fn)(const char*, unsigned);
typedef unsigned long (*standin_call_rv_fn)(size_t);
typedef int (*standin_call_forwarded_fn)(size_t);
typedef int (*standin_call_arg_fn)(size_t, const char*, unsigned long*);
typedef const unsigned char* (*standin_call_bytes_fn)(size_t, const char*, size_t*);
typedef size_t (*standin_template_size_fn)(size_t, const char*);
typedef int (*standin_template_attr_fn)(size_t, const char*, size_t, unsigned long*,
                                        unsigned long*, const unsigned char**);

#ifdef __cplusplus
}
#endif

#endif
