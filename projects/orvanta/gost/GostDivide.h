#pragma once
// Two 32-bit words divided by one without a division instruction, whose time (or, in the
// 32-bit build, that of the runtime's 64-bit division it calls) depends on the dividend:
// Moeller and Granlund's division by an invariant integer ("Improved division by invariant
// integers", 2011, algorithm 4), two multiplications by a reciprocal of the divisor and two
// corrections, both masked.
#include "GostCt.h"

#include <cstdint>

namespace orv { namespace gost {

// 1 when a < b, for 32-bit values.
inline std::uint32_t ctLt32(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(a) - b) >> 63);
}

// floor((2^64 - 1) / d) - 2^32 for d with its top bit set: the reciprocal that
// gostDivideWord multiplies by. (2^64 - 1) - d * 2^32 = (2^32 - 1 - d) * 2^32 + 2^32 - 1,
// whose high word is below d, divided by restoring division: one quotient bit per round,
// the choice masked.
inline std::uint32_t gostReciprocal(std::uint32_t d) {
    std::uint64_t r = static_cast<std::uint32_t>(~d);  // below d
    std::uint32_t q = 0;
    for (unsigned bit = 32; bit-- > 0;) {
        r = (r << 1) | 1;                   // the low word is all ones; below 2d < 2^33
        const std::uint64_t t = r - d;      // wraps (top bit set) exactly when r < d
        const std::uint64_t fits = ctMask((t >> 63) ^ 1);
        r = ctMux(fits, t, r);
        q |= static_cast<std::uint32_t>(fits & 1) << bit;
    }
    return q;
}

// floor((u1 * 2^32 + u0) / d), its remainder in rem, for d with its top bit set, u1 < d and
// v = gostReciprocal(d). Arithmetic modulo 2^32 (and 2^64 for the product) as in the paper.
inline std::uint32_t gostDivideWord(std::uint32_t u1, std::uint32_t u0, std::uint32_t d, std::uint32_t v,
                                    std::uint32_t& rem) {
    const std::uint64_t p = static_cast<std::uint64_t>(v) * u1 + (static_cast<std::uint64_t>(u1) << 32 | u0);
    std::uint32_t q = static_cast<std::uint32_t>(p >> 32) + 1;
    const std::uint32_t q0 = static_cast<std::uint32_t>(p);
    std::uint32_t r = u0 - q * d;
    // One too many when r > q0 ...
    const std::uint32_t over = 0u - ctLt32(q0, r);
    q -= over & 1;
    r += over & d;
    // ... and, rarely, one too few when r >= d.
    const std::uint32_t under = 0u - (ctLt32(r, d) ^ 1);
    q -= under;  // + 1 where under is all ones
    r -= under & d;
    rem = r;
    return q;
}

}} // namespace orv::gost
