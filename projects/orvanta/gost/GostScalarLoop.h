#pragma once
// The mixed addition and the loop of the scalar multiplication, written once over the
// field arithmetic `F`: FieldA or FieldAMulx (the CryptoPro-A prime, values below 2^256
// but not always below p) or FieldGeneric (any prime, every value reduced). The letter
// picks F once per scalar multiplication, and the field operations are inlined into the
// loop instead of choosing their reduction per call.
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

// a = 0 mod p, for a below 2^256 (so 0 or p).
ORV_GOST_INLINE bool isZeroModP(const Fe a, const Fe p) {
    const std::uint64_t zero = a[0] | a[1] | a[2] | a[3];
    const std::uint64_t isP = (a[0] ^ p[0]) | (a[1] ^ p[1]) | (a[2] ^ p[2]) | (a[3] ^ p[3]);
    return (ctIsZero(zero) | ctIsZero(isP)) != 0;
}

// out = r + q for q with Z = 1 (its Z is not read), the formulas of gostPointAdd with
// Z_Q = 1 put in: 9 multiplications and 2 squarings. r's coordinates may be any
// representatives F allows; q's are reduced. out may be r, never q.
template <class F>
ORV_GOST_INLINE std::uint8_t addMixed(GostPoint& out, const GostPoint& r, const GostPoint& q) {
    GostWorkArea& w = gostWork;
    // u1 = Y_R, v1 = X_R
    F::mul(w.u2, q.Y, r.Z);
    F::mul(w.v2, q.X, r.Z);
    F::sub(w.u, r.Y, w.u2);
    F::sub(w.v, r.X, w.v2);
    // Equal x: R = -Q (infinity) or R = Q (a doubling). v1 = v2 exactly when v = v1 - v2
    // is 0 mod p, i.e. 0 or (as a value below 2^256) p itself; u tells the two apart. The
    // scalar multiplication meets this only in its first, discarded addition (P + P
    // whatever the nonce), so the branch tells nothing about a secret.
    if (isZeroModP(w.v, w.p)) {
        if (!isZeroModP(w.u, w.p))
            return 2;
        return gostPointDouble(out, q);
    }
    copyLimbs(w.w, r.Z, kLimbs);
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
    for (std::size_t i = 0; i < kLimbs; ++i) {
        dst.X[i] = ctMux(mask, a.X[i], b.X[i]);
        dst.Y[i] = ctMux(mask, a.Y[i], b.Y[i]);
        dst.Z[i] = ctMux(mask, a.Z[i], b.Z[i]);
    }
}

// R = k * base over the table of doublings (built): one addition of 2^i * P per bit i,
// kept when the bit is 1 and dropped when it is 0. Before R holds a point the addition
// adds P instead of R, so even the nonce's trailing zero bits run the same operations;
// the choices are masks, never branches on the nonce. R leaves reduced.
template <class F>
ORV_GOST_INLINE std::uint8_t scalarMulLoop(const std::uint32_t k[kWords]) {
    GostWorkArea& w = gostWork;
    w.rSet = 0;
    w.infinity = 0;
    zeroLimbs(w.Qi.Z, kLimbs);
    w.Qi.Z[0] = 1;
    for (unsigned i = 0; i < 256; ++i) {
        copyLimbs(w.Qi.X, w.doublings.x[i], kLimbs);
        copyLimbs(w.Qi.Y, w.doublings.y[i], kLimbs);
        const std::uint64_t bit = ctMask((k[i / 32] >> (i % 32)) & 1);
        ctSelectPoint(w.rSet, w.addend, w.R, w.base);
        // Every addition lands in the dummy slots first. Its only failure is R = -Q
        // (Q never has Y = 0 on these prime-order curves), which for a kept addition
        // leaves R unset and raises the infinity flag.
        const std::uint8_t status = addMixed<F>(w.dummy, w.addend, w.Qi);
        const std::uint64_t atInfinity = ctMask(status >> 1 & 1);
        const std::uint64_t real = bit & w.rSet;
        const std::uint64_t first = bit & ~w.rSet;
        ctCopyPoint(real & ~atInfinity, w.R, w.dummy);
        ctCopyPoint(first, w.R, w.Qi);
        w.infinity = (w.infinity & ~(real & ~atInfinity)) | (real & atInfinity);
        w.rSet = (w.rSet | bit) & ~(real & atInfinity);
    }
    F::canonical(w.R.X, w.R.X);
    F::canonical(w.R.Y, w.R.Y);
    F::canonical(w.R.Z, w.R.Z);
    return w.infinity ? 2 : 0;
}

}} // namespace orv::gost
