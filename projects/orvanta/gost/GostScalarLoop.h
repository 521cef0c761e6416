#pragma once
// The mixed addition and the loop of the scalar multiplication, written once over the
// field arithmetic `F`: FieldA or FieldAMulx (the CryptoPro-A prime, values below 2^256
// but not always below p) or FieldGeneric (any prime, every value reduced). The letter
// picks F once per scalar multiplication, and the field operations are inlined into the
// step of one bit instead of choosing their reduction per call.
#include "GostArith.h"
#include "GostFieldA.h"

namespace orv { namespace gost {

// Every step reduced modulo the work area's p by gostModMul & co. (bnMod for the sets
// without a special reduction).
struct FieldGeneric {
    static void mul(Fe out, const Fe a, const Fe b) { gostModMul(out, a, b); }
    static void sqr(Fe out, const Fe a) { gostModSqr(out, a); }
    static void sub(Fe out, const Fe b, const Fe a) { gostModSub(out, b, a); }
    static void mulWord2(Fe out, const Fe a) { gostModMulWord(out, a, 2); }
    static void canonical(Fe out, const Fe a) { copyLimbs(out, a, kLimbs); }
};

// All-ones when a = 0 mod p, for a below 2^256 (so 0 or p).
ORV_GOST_INLINE std::uint64_t zeroModPMask(const Fe a, const Fe p) {
    const std::uint64_t zero = a[0] | a[1] | a[2] | a[3];
    const std::uint64_t isP = (a[0] ^ p[0]) | (a[1] ^ p[1]) | (a[2] ^ p[2]) | (a[3] ^ p[3]);
    return ctIsZero(zero) | ctIsZero(isP);
}

ORV_GOST_INLINE bool isZeroModP(const Fe a, const Fe p) { return zeroModPMask(a, p) != 0; }

// The first half of R + Q for q with Z = 1: u2 = Y_Q*Z_R, v2 = X_Q*Z_R, u = u1 - u2 and
// v = v1 - v2 (u1 = Y_R, v1 = X_R). R and Q have the same x exactly when v = 0 mod p.
template <class F>
ORV_GOST_INLINE void addMixedDifferences(const GostPoint& r, const GostPoint& q) {
    GostWorkArea& w = gostWork;
    F::mul(w.u2, q.Y, r.Z);
    F::mul(w.v2, q.X, r.Z);
    F::sub(w.u, r.Y, w.u2);
    F::sub(w.v, r.X, w.v2);
}

// The second half, from u, v, u2 and v2: 7 multiplications and 2 squarings. Meaningless
// (Z = 0) when v = 0 mod p. out may be r.
template <class F>
ORV_GOST_INLINE void addMixedSum(GostPoint& out, const GostPoint& r) {
    GostWorkArea& w = gostWork;
    w.w[0] = r.Z[0];
    w.w[1] = r.Z[1];
    w.w[2] = r.Z[2];
    w.w[3] = r.Z[3];
    // r is not read below: out may be r.
    F::sqr(w.uu, w.u);
    F::sqr(w.vv, w.v);
    F::mul(w.vvv, w.v, w.vv);
    F::mul(w.vv2, w.vv, w.v2);
    // A = u^2*w - v^3 - 2*v^2*v2
    F::mul(w.t1, w.uu, w.w);
    F::sub(w.t1, w.t1, w.vvv);
    F::mulWord2(w.t2, w.vv2);
    F::sub(w.bigA, w.t1, w.t2);
    // X = v*A, Y = u*(v^2*v2 - A) - v^3*u2, Z = v^3*w
    F::mul(out.X, w.v, w.bigA);
    F::sub(w.t1, w.vv2, w.bigA);
    F::mul(w.t1, w.u, w.t1);
    F::mul(w.t2, w.vvv, w.u2);
    F::sub(out.Y, w.t1, w.t2);
    F::mul(out.Z, w.vvv, w.w);
}

// out = r + q for q with Z = 1 (its Z is not read), the formulas of gostPointAdd with
// Z_Q = 1 put in: 9 multiplications and 2 squarings. r's coordinates may be any
// representatives F allows; q's are reduced. out may be r, never q.
template <class F>
ORV_GOST_INLINE std::uint8_t addMixed(GostPoint& out, const GostPoint& r, const GostPoint& q) {
    GostWorkArea& w = gostWork;
    addMixedDifferences<F>(r, q);
    // Equal x: R = -Q (infinity) or R = Q (a doubling); u tells the two apart.
    if (isZeroModP(w.v, w.p)) {
        if (!isZeroModP(w.u, w.p))
            return 2;
        return gostPointDouble(out, q);
    }
    addMixedSum<F>(out, r);
    return 0;
}

// dst = mask ? src : dst for the three coordinates.
ORV_GOST_INLINE void ctCopyPoint(std::uint64_t mask, GostPoint& dst, const GostPoint& src) {
    ctCopy4(mask, dst.X, src.X);
    ctCopy4(mask, dst.Y, src.Y);
    ctCopy4(mask, dst.Z, src.Z);
}

// dst = mask ? a : b for the three coordinates.
ORV_GOST_INLINE void ctSelectPoint(std::uint64_t mask, GostPoint& dst, const GostPoint& a, const GostPoint& b) {
    ctSelect4(mask, dst.X, a.X, b.X);
    ctSelect4(mask, dst.Y, a.Y, b.Y);
    ctSelect4(mask, dst.Z, a.Z, b.Z);
}

// Qi = 2^i * P from the table (its Z stays 1). The index is public.
ORV_GOST_INLINE void loadDoubling(unsigned i) {
    GostWorkArea& w = gostWork;
    const Fe& x = w.doublings.x[i];
    const Fe& y = w.doublings.y[i];
    w.Qi.X[0] = x[0];
    w.Qi.X[1] = x[1];
    w.Qi.X[2] = x[2];
    w.Qi.X[3] = x[3];
    w.Qi.Y[0] = y[0];
    w.Qi.Y[1] = y[1];
    w.Qi.Y[2] = y[2];
    w.Qi.Y[3] = y[3];
}

// Bit i (1..255) of k: the addition of 2^i * P, kept when the bit is 1 and dropped when it
// is 0; before R holds a point it adds P instead of R, so even the nonce's trailing zero
// bits run the same operations. Everything the nonce decides is a mask: the function has
// no branch at all (tools/check-constant-time looks at its machine code in the optimised
// builds of both targets), and it is kept out of line so that the check can find it.
//
// The one case the addition formulas cannot give, equal x, is told by a mask too. With
// R = m*P for the m = k mod 2^i < 2^i that the bits below i make, and every order q of
// these curves above 2^255 + 1: R = Q = 2^i * P would need m = 2^i mod q, impossible;
// P = +-2^i * P (R still unset) would need q to divide 2^i -+ 1, impossible; R = -Q needs
// m = q - 2^i < 2^i, which is possible for i = 255 only. So equal x means R = -Q and a sum
// at the point at infinity: a kept addition then leaves R unset and raises the flag.
template <class F>
ORV_GOST_NOINLINE void scalarStep(const std::uint32_t k[kWords], unsigned i) {
    GostWorkArea& w = gostWork;
    loadDoubling(i);
    const std::uint64_t bit = ctMask((k[i / 32] >> (i % 32)) & 1);
    ctSelectPoint(w.rSet, w.addend, w.R, w.base);
    addMixedDifferences<F>(w.addend, w.Qi);
    const std::uint64_t atInfinity = zeroModPMask(w.v, w.p);
    addMixedSum<F>(w.dummy, w.addend);
    const std::uint64_t real = bit & w.rSet;
    const std::uint64_t first = bit & ~w.rSet;
    ctCopyPoint(real & ~atInfinity, w.R, w.dummy);
    ctCopyPoint(first, w.R, w.Qi);
    w.infinity = (w.infinity & ~(real & ~atInfinity)) | (real & atInfinity);
    w.rSet = (w.rSet | bit) & ~(real & atInfinity);
}

// R = k * base over the table of doublings (built), right to left over all 256 bits.
// Bit 0 needs no addition: R is unset there, and the P + P it would add is dropped
// whatever the bit says; only R = P is chosen, by a mask. R leaves reduced.
template <class F>
ORV_GOST_INLINE std::uint8_t scalarMulLoop(const std::uint32_t k[kWords]) {
    GostWorkArea& w = gostWork;
    w.infinity = 0;
    zeroLimbs(w.Qi.Z, kLimbs);
    w.Qi.Z[0] = 1;
    loadDoubling(0);
    w.rSet = ctMask(k[0] & 1);
    ctCopyPoint(w.rSet, w.R, w.Qi);
    for (unsigned i = 1; i < 256; ++i)
        scalarStep<F>(k, i);
    F::canonical(w.R.X, w.R.X);
    F::canonical(w.R.Y, w.R.Y);
    F::canonical(w.R.Z, w.R.Z);
    return w.infinity ? 2 : 0;
}

}} // namespace orv::gost
