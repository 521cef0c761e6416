// On Linux Cryptoki structures keep the compiler's natural alignment and CK_ULONG is the
// platform's unsigned long; SoftHSM and the vendor's Linux module are built that way.
#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace {

constexpr std::size_t ptr = sizeof(void*);
constexpr std::size_t ul = sizeof(unsigned long);

static_assert(sizeof(CK_ULONG) == ul);
static_assert(offsetof(CK_ATTRIBUTE, pValue) == ptr);
static_assert(sizeof(CK_ATTRIBUTE) == ul + ptr + ul);
static_assert(offsetof(CK_MECHANISM, ulParameterLen) == ul + ptr);
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == ptr);
static_assert(sizeof(CK_FUNCTION_LIST) == ptr + 68 * ptr);

} // namespace
