#include "PlatformRandom.h"

#include <windows.h>
#include <wincrypt.h>

namespace orv {

// A fresh verify-only context of the Enhanced provider for every draw: no key container
// is touched and nothing is kept between signatures.
bool platformRandomBytes(std::uint8_t* buffer, std::size_t size) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, L"Microsoft Enhanced Cryptographic Provider v1.0",
                              PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    const BOOL drawn = CryptGenRandom(provider, static_cast<DWORD>(size), buffer);
    CryptReleaseContext(provider, 0);
    return drawn != FALSE;
}

} // namespace orv
