#pragma once
// Field arithmetic modulo the CryptoPro-A prime p = 2^256 - 617 for the inner loop of the
// scalar multiplication. Values there are kept below 2^256 but not necessarily below p
// (each is one of at most two representatives of its residue): a product then ends after
// its folds, without the comparison with p and the conditional subtraction.
// `canonical` brings a value below p where it is compared or leaves the loop, so what
// comes out is exactly what reducing every step would give.
//
// Portable code; the x86-64 variant with mulx/adx is in GostFieldAMulx.h. Everything here
// is constant time.
#include "GostCt.h"
#include "GostWords.h"

namespace orv { namespace gost {

constexpr std::uint64_t kFoldA617 = 617;  // 2^256 - p, for the A prime

// Shared by both variants: the reductions after the products, additions and subtractions.
struct FieldALazyOps {
    // out = r0..r3 + 617 * top for top <= 2^32: below 2^256. A carry out of 2^256 leaves
    // r below 617 * top < 2^42, so adding the carry's 617 cannot carry again, nor leave
    // limb 0.
    static ORV_GOST_INLINE void foldTop(Fe out, std::uint64_t r0, std::uint64_t r1, std::uint64_t r2,
                                        std::uint64_t r3, std::uint64_t top) {
        Carry c = 0;
        r0 = addc(r0, top * kFoldA617, c);
        r1 = addc(r1, 0, c);
        r2 = addc(r2, 0, c);
        r3 = addc(r3, 0, c);
        out[0] = r0 + (kFoldA617 & ctMask(c));
        out[1] = r1;
        out[2] = r2;
        out[3] = r3;
    }

    // out = b - a mod p for b, a below 2^256; out below 2^256. A borrow means the
    // difference wrapped to b - a + 2^256 = b - a + p + 617: taking 617 off leaves
    // b - a + p. Should that borrow as well, it wrapped to b - a + 2p + 617, and a second
    // 617 off gives b - a + 2p, which lies in [2^256 - 1233, 2^256 - 617]: limb 0 is then
    // far above 617 and cannot borrow.
    static ORV_GOST_INLINE void sub(Fe out, const Fe b, const Fe a) {
        Carry borrow = 0;
        const std::uint64_t d0 = subb(b[0], a[0], borrow);
        const std::uint64_t d1 = subb(b[1], a[1], borrow);
        const std::uint64_t d2 = subb(b[2], a[2], borrow);
        const std::uint64_t d3 = subb(b[3], a[3], borrow);
        // d - 617 runs alongside (it needs no borrow of d), then the choice: this keeps
        // the subtraction short on the addition's critical path.
        Carry again = 0;
        const std::uint64_t e0 = subb(d0, kFoldA617, again);
        const std::uint64_t e1 = subb(d1, 0, again);
        const std::uint64_t e2 = subb(d2, 0, again);
        const std::uint64_t e3 = subb(d3, 0, again);
        const std::uint64_t wrapped = ctMask(borrow);
        out[0] = ctMux(wrapped, e0 - (kFoldA617 & ctMask(again)), d0);
        out[1] = ctMux(wrapped, e1, d1);
        out[2] = ctMux(wrapped, e2, d2);
        out[3] = ctMux(wrapped, e3, d3);
    }

    // out = a * 2 mod p (the one-word constant of the addition); a below 2^256, out
    // below 2^256.
    static ORV_GOST_INLINE void mulWord2(Fe out, const Fe a) {
        const std::uint64_t top = a[3] >> 63;
        foldTop(out, a[0] << 1, (a[1] << 1) | (a[0] >> 63), (a[2] << 1) | (a[1] >> 63),
                (a[3] << 1) | (a[2] >> 63), top);
    }

    // out = a mod p, the representative below p; a below 2^256.
    static ORV_GOST_INLINE void canonical(Fe out, const Fe a) {
        // a >= p exactly when a + 617 carries out of 2^256; then a + 617 - 2^256 = a - p.
        Carry c = 0;
        const std::uint64_t t0 = addc(a[0], kFoldA617, c);
        const std::uint64_t t1 = addc(a[1], 0, c);
        const std::uint64_t t2 = addc(a[2], 0, c);
        const std::uint64_t t3 = addc(a[3], 0, c);
        const std::uint64_t keep = ctMask(c);
        out[0] = ctMux(keep, t0, a[0]);
        out[1] = ctMux(keep, t1, a[1]);
        out[2] = ctMux(keep, t2, a[2]);
        out[3] = ctMux(keep, t3, a[3]);
    }
};

// The products: schoolbook rows, the squaring with cross products doubled, then
// hi * 2^256 + lo folded to lo + 617 * hi.
struct FieldA : FieldALazyOps {
    static ORV_GOST_INLINE std::uint64_t mulLoHi(std::uint64_t a, std::uint64_t b, std::uint64_t& hi) {
        const Wide t = wideMul(a, b);
        hi = wideHi(t);
        return wideLo(t);
    }

    // r0..r4 = r0..r3 + ai * (b0..b3). The sum is below 2^320, so r4 takes the top carry.
    static ORV_GOST_INLINE void row(std::uint64_t ai, std::uint64_t b0, std::uint64_t b1, std::uint64_t b2,
                                    std::uint64_t b3, std::uint64_t& r0, std::uint64_t& r1,
                                    std::uint64_t& r2, std::uint64_t& r3, std::uint64_t& r4) {
        std::uint64_t h0, h1, h2, h3;
        const std::uint64_t l0 = mulLoHi(ai, b0, h0);
        const std::uint64_t l1 = mulLoHi(ai, b1, h1);
        const std::uint64_t l2 = mulLoHi(ai, b2, h2);
        const std::uint64_t l3 = mulLoHi(ai, b3, h3);
        Carry c = 0;
        const std::uint64_t t1 = addc(l1, h0, c);
        const std::uint64_t t2 = addc(l2, h1, c);
        const std::uint64_t t3 = addc(l3, h2, c);
        const std::uint64_t t4 = h3 + c;
        c = 0;
        r0 = addc(r0, l0, c);
        r1 = addc(r1, t1, c);
        r2 = addc(r2, t2, c);
        r3 = addc(r3, t3, c);
        r4 = t4 + c;
    }

    // out = r0..r3 + 617 * (r4..r7), below 2^256 and congruent mod p. Any 512-bit input:
    // the sum is below 618 * 2^256, so its fifth limb is at most 617.
    static ORV_GOST_INLINE void fold(Fe out, std::uint64_t r0, std::uint64_t r1, std::uint64_t r2,
                                     std::uint64_t r3, std::uint64_t r4, std::uint64_t r5,
                                     std::uint64_t r6, std::uint64_t r7) {
        std::uint64_t top;
        row(kFoldA617, r4, r5, r6, r7, r0, r1, r2, r3, top);
        foldTop(out, r0, r1, r2, r3, top);
    }

    // out = a * b mod p; a, b below 2^256, out below 2^256.
    static ORV_GOST_INLINE void mul(Fe out, const Fe a, const Fe b) {
        const std::uint64_t b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3];
        std::uint64_t r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4, r5, r6, r7;
        row(a[0], b0, b1, b2, b3, r0, r1, r2, r3, r4);
        row(a[1], b0, b1, b2, b3, r1, r2, r3, r4, r5);
        row(a[2], b0, b1, b2, b3, r2, r3, r4, r5, r6);
        row(a[3], b0, b1, b2, b3, r3, r4, r5, r6, r7);
        fold(out, r0, r1, r2, r3, r4, r5, r6, r7);
    }

    // out = a^2 mod p; a below 2^256, out below 2^256.
    static ORV_GOST_INLINE void sqr(Fe out, const Fe a) {
        const std::uint64_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        std::uint64_t h, l, r0, r1, r2, r3, r4, r5, r6, r7;
        Carry c;
        // a0 * (a1, a2, a3) into limbs 1..4
        std::uint64_t h1, h2, h3;
        r1 = mulLoHi(a0, a1, h1);
        const std::uint64_t l2 = mulLoHi(a0, a2, h2);
        const std::uint64_t l3 = mulLoHi(a0, a3, h3);
        c = 0;
        r2 = addc(l2, h1, c);
        r3 = addc(l3, h2, c);
        r4 = h3 + c;
        // a1 * (a2, a3) into limbs 3..5
        std::uint64_t g2, g3;
        const std::uint64_t k2 = mulLoHi(a1, a2, g2);
        const std::uint64_t k3 = mulLoHi(a1, a3, g3);
        c = 0;
        const std::uint64_t m4 = addc(k3, g2, c);
        const std::uint64_t m5 = g3 + c;
        c = 0;
        r3 = addc(r3, k2, c);
        r4 = addc(r4, m4, c);
        r5 = m5 + c;
        // a2 * a3 into limbs 5..6
        l = mulLoHi(a2, a3, h);
        c = 0;
        r5 = addc(r5, l, c);
        r6 = h + c;
        // doubled: the cross sum is below 2^511
        r7 = r6 >> 63;
        r6 = (r6 << 1) | (r5 >> 63);
        r5 = (r5 << 1) | (r4 >> 63);
        r4 = (r4 << 1) | (r3 >> 63);
        r3 = (r3 << 1) | (r2 >> 63);
        r2 = (r2 << 1) | (r1 >> 63);
        r1 = r1 << 1;
        // squares on the diagonal; the total is a^2 < 2^512
        std::uint64_t s0h, s1h, s2h, s3h;
        r0 = mulLoHi(a0, a0, s0h);
        const std::uint64_t s1l = mulLoHi(a1, a1, s1h);
        const std::uint64_t s2l = mulLoHi(a2, a2, s2h);
        const std::uint64_t s3l = mulLoHi(a3, a3, s3h);
        c = 0;
        r1 = addc(r1, s0h, c);
        r2 = addc(r2, s1l, c);
        r3 = addc(r3, s1h, c);
        r4 = addc(r4, s2l, c);
        r5 = addc(r5, s2h, c);
        r6 = addc(r6, s3l, c);
        r7 = addc(r7, s3h, c);
        fold(out, r0, r1, r2, r3, r4, r5, r6, r7);
    }
};

}} // namespace orv::gost
