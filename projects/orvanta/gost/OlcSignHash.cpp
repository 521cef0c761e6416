// The software signing entry of the scripting object: CryptoPro-A, errors in a box.
#include "GostSign.h"

#include "ErrorBox.h"

namespace orv {

namespace {
const std::uint8_t kCryptoProAOid[9] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
}

std::int32_t olcSignHash(const std::uint8_t* key, std::uint32_t keyLen, void* /*moduleHandle*/,
                         const std::uint8_t* hash, std::uint32_t hashLen,
                         std::uint8_t* signature, std::uint32_t* signatureLen) {
    if (key == nullptr || hash == nullptr || signature == nullptr || signatureLen == nullptr ||
        keyLen == 0 || hashLen == 0)
        return -10;
    const std::uint8_t status = gostSign(key, keyLen, hash, hashLen, signature, signatureLen,
                                         kCryptoProAOid, sizeof kCryptoProAOid);
    if (status == 0)
        return 0;
    showErrorBox("some crypt error", "olcSignHash", status);
    return -70 - static_cast<std::int32_t>(status);
}

} // namespace orv
