#pragma once
// Branch-free selection: where the nonce or the key decides, the same instructions run
// whatever the value. Masks are all-ones (true) or zero (false).

#include <cstddef>
#include <cstdint>

namespace orv { namespace gost {

// All-ones when bit (0 or 1) is 1.
inline std::uint64_t ctMask(std::uint64_t bit) { return 0 - bit; }

// All-ones when x is zero.
inline std::uint64_t ctIsZero(std::uint64_t x) { return ctMask(((x | (0 - x)) >> 63) ^ 1); }

// 1 when a < b (unsigned), without a comparison the compiler could turn into a branch.
inline std::uint64_t ctLt(std::uint64_t a, std::uint64_t b) {
    return (((~a) & b) | (((~a) ^ b) & (a - b))) >> 63;
}

// mask ? a : b
inline std::uint64_t ctMux(std::uint64_t mask, std::uint64_t a, std::uint64_t b) {
    return b ^ (mask & (a ^ b));
}

// dst = mask ? src : dst, over n words.
inline void ctCopy(std::uint64_t mask, std::uint64_t* dst, const std::uint64_t* src, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        dst[i] ^= mask & (dst[i] ^ src[i]);
}

// dst = mask ? src : dst for one 256-bit value (four limbs), unrolled.
inline void ctCopy4(std::uint64_t mask, std::uint64_t* dst, const std::uint64_t* src) {
    dst[0] ^= mask & (dst[0] ^ src[0]);
    dst[1] ^= mask & (dst[1] ^ src[1]);
    dst[2] ^= mask & (dst[2] ^ src[2]);
    dst[3] ^= mask & (dst[3] ^ src[3]);
}

// dst = mask ? a : b for one 256-bit value (four limbs), unrolled.
inline void ctSelect4(std::uint64_t mask, std::uint64_t* dst, const std::uint64_t* a, const std::uint64_t* b) {
    dst[0] = ctMux(mask, a[0], b[0]);
    dst[1] = ctMux(mask, a[1], b[1]);
    dst[2] = ctMux(mask, a[2], b[2]);
    dst[3] = ctMux(mask, a[3], b[3]);
}

// All-ones when the n words of a and b are equal.
inline std::uint64_t ctEqual(const std::uint64_t* a, const std::uint64_t* b, std::size_t n) {
    std::uint64_t diff = 0;
    for (std::size_t i = 0; i < n; ++i)
        diff |= a[i] ^ b[i];
    return ctIsZero(diff);
}

}} // namespace orv::gost
