#pragma once
// Reduction modulo the CryptoPro-A prime p = 2^256 - 617: since 2^256 = 617 (mod p),
// hi*2^256 + lo folds to lo + 617*hi. Inline, so that the product it reduces never
// leaves the registers of the multiplication.
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

constexpr std::uint64_t kFoldA = 617;  // 2^256 - p

inline void gostReduceA(Fe out, const std::uint64_t wide[2 * kLimbs]) {
    // Fold 1: lo + 617*hi < 2^256 + 617*2^256, so the fifth limb `top` is at most 617.
    std::uint64_t c = 0;
    std::uint64_t r0 = mac(wide[4], kFoldA, wide[0], c);
    std::uint64_t r1 = mac(wide[5], kFoldA, wide[1], c);
    std::uint64_t r2 = mac(wide[6], kFoldA, wide[2], c);
    std::uint64_t r3 = mac(wide[7], kFoldA, wide[3], c);
    const std::uint64_t top = c;

    // Fold 2: r + 617*top < 2^256 + 617^2. A carry out of 2^256 leaves r below 617^2.
    c = 0;
    r0 = adc(r0, top * kFoldA, c);
    r1 = adc(r1, 0, c);
    r2 = adc(r2, 0, c);
    r3 = adc(r3, 0, c);
    // Fold 3: r + 617*c < 617^2 + 617 when c = 1, so no carry is left.
    const std::uint64_t fold3 = kFoldA & ctMask(c);
    c = 0;
    r0 = adc(r0, fold3, c);
    r1 = adc(r1, 0, c);
    r2 = adc(r2, 0, c);
    r3 = adc(r3, 0, c);

    // Now r < 2^256 = p + 617: one subtraction of p at most, done as r + 617 mod 2^256,
    // kept when that addition carries (which is exactly r >= p).
    c = 0;
    const std::uint64_t t0 = adc(r0, kFoldA, c);
    const std::uint64_t t1 = adc(r1, 0, c);
    const std::uint64_t t2 = adc(r2, 0, c);
    const std::uint64_t t3 = adc(r3, 0, c);
    const std::uint64_t keep = ctMask(c);
    out[0] = ctMux(keep, t0, r0);
    out[1] = ctMux(keep, t1, r1);
    out[2] = ctMux(keep, t2, r2);
    out[3] = ctMux(keep, t3, r3);
}

}} // namespace orv::gost
