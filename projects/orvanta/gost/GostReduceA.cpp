// Reduction modulo the CryptoPro-A prime p = 2^256 - 617: since 2^256 = 617 (mod p),
// hi*2^256 + lo folds to lo + 617*hi.
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

namespace {
constexpr std::uint64_t kFold = 617;  // 2^256 - p
}

void gostReduceA(Fe out, const std::uint64_t wide[2 * kLimbs]) {
    // Fold 1: lo + 617*hi < 2^256 + 617*2^256, so the fifth limb `top` is at most 617.
    std::uint64_t r[kLimbs];
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < kLimbs; ++i) {
        std::uint64_t lo, hi;
        mulWide(wide[kLimbs + i], kFold, lo, hi);
        lo += carry;
        hi += (lo < carry);
        r[i] = wide[i] + lo;
        carry = hi + (r[i] < lo);  // hi < 617: no wrap
    }
    const std::uint64_t top = carry;

    // Fold 2: r + 617*top < 2^256 + 617^2. A carry c out of 2^256 leaves r below 617^2.
    std::uint64_t add = top * kFold;
    for (std::size_t i = 0; i < kLimbs; ++i) {
        r[i] += add;
        add = (r[i] < add);
    }
    // Fold 3: r + 617*c < 617^2 + 617 when c = 1, so no carry is left.
    add = kFold & ctMask(add);
    for (std::size_t i = 0; i < kLimbs; ++i) {
        r[i] += add;
        add = (r[i] < add);
    }

    // Now r < 2^256 = p + 617: at most one subtraction of p, done as r + 617 mod 2^256
    // when that addition carries (that is exactly r >= p).
    std::uint64_t t[kLimbs];
    add = kFold;
    for (std::size_t i = 0; i < kLimbs; ++i) {
        t[i] = r[i] + add;
        add = (t[i] < add);
    }
    ctCopy(ctMask(add), r, t, kLimbs);
    copyLimbs(out, r, kLimbs);
}

}} // namespace orv::gost
