// The vendor module is built with Cryptoki's Windows conventions: structures packed to one
// byte and CK_ULONG of 32 bits (long stays 32 bits on 64-bit Windows too). A header or
// compiler setting that changed either would garble every call into the module while still
// building, and the 32-bit DLL is the one that ships but cannot always be run here, so both
// Windows builds pin the layout at compile time.
#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace {

constexpr std::size_t ptr = sizeof(void*);

static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32 bits on Windows");
static_assert(sizeof(CK_RV) == 4 && sizeof(CK_SESSION_HANDLE) == 4 && sizeof(CK_OBJECT_HANDLE) == 4);
static_assert(sizeof(CK_VERSION) == 2);

static_assert(offsetof(CK_ATTRIBUTE, pValue) == 4, "packed: no padding after the type");
static_assert(offsetof(CK_ATTRIBUTE, ulValueLen) == 4 + ptr);
static_assert(sizeof(CK_ATTRIBUTE) == 8 + ptr);

static_assert(offsetof(CK_MECHANISM, pParameter) == 4);
static_assert(offsetof(CK_MECHANISM, ulParameterLen) == 4 + ptr);
static_assert(sizeof(CK_MECHANISM) == 8 + ptr);

static_assert(sizeof(CK_INFO) == 2 + 32 + 4 + 32 + 2);
static_assert(offsetof(CK_TOKEN_INFO, flags) == 32 + 32 + 16 + 16);
static_assert(sizeof(CK_TOKEN_INFO) == 96 + 4 + 10 * 4 + 2 + 2 + 16);
static_assert(sizeof(CK_SLOT_INFO) == 64 + 32 + 4 + 2 + 2);

// The function list is a version followed directly by the entry points.
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == 2);
static_assert(offsetof(CK_FUNCTION_LIST, C_GetFunctionList) == 2 + 3 * ptr);
static_assert(offsetof(CK_FUNCTION_LIST, C_Sign) == 2 + 43 * ptr);
static_assert(sizeof(CK_FUNCTION_LIST) == 2 + 68 * ptr);

} // namespace
