#pragma once
// GOST R 34.10-2001 signature generation (RFC 5832) over the 256-bit parameter sets of
// RFC 4357. Keys, hashes and the two signature halves are 32-byte little-endian numbers.
// Not re-entrant: every call shares one static work area.

#include <cstdint>

namespace orv {

// Statuses of gostSign; olcSignHash turns a non-zero one into -70 - status.
enum GostStatus : std::uint8_t {
    GOST_OK = 0,
    GOST_ERR_BUFFER = 1,        // no capacity pointer, or capacity below 64
    GOST_ERR_FAILED = 2,        // bad key/hash length, no random bytes, point at infinity
    GOST_ERR_OID = 3,           // parameter set not in the table
    GOST_ERR_ZERO_MODULUS = 15,
    GOST_ERR_NO_INVERSE = 17,   // inverse of zero, zero modulus, or gcd != 1
};

constexpr std::uint32_t kGostSignatureSize = 64;

// The software signing entry of the scripting object: always the CryptoPro-A set.
// moduleHandle (the crypto companion module) is accepted and not used.
// -10 for a null pointer or a zero length; -70 - status after an error box otherwise.
std::int32_t olcSignHash(const std::uint8_t* key, std::uint32_t keyLen, void* moduleHandle,
                         const std::uint8_t* hash, std::uint32_t hashLen,
                         std::uint8_t* signature, std::uint32_t* signatureLen);

// Signs hash with key on the curve named by oid (DER: 06 07 ...). A null signature buffer
// asks for the size (64). Writes r to bytes 0-31 and s to bytes 32-63.
std::uint8_t gostSign(const std::uint8_t* key, std::uint32_t keyLen,
                      const std::uint8_t* hash, std::uint32_t hashLen,
                      std::uint8_t* signature, std::uint32_t* signatureLen,
                      const std::uint8_t* oid, std::uint32_t oidLen);

// 'T', 'A', 'B' or 'C' for a known 9-byte OID encoding; 0 otherwise.
char gostParamSetFromOid(const std::uint8_t* oid, std::uint32_t oidLen);

} // namespace orv
