// Projective point doubling. The value of 2*(X : Y : Z) is that of the textbook formulas;
// the operation count is Bernstein-Lange's (dbl-2007-bl), and for a = -3 (the CryptoPro
// sets) w = 3*(X - Z)*(X + Z) replaces a*Z^2 + 3*X^2.
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

namespace {
// out = a + b mod p. Operands below p; result below p.
void modAdd(Fe out, const Fe a, const Fe b) {
    Fe t;
    const std::uint64_t carry = addLimbs(out, a, b, kLimbs);
    const std::uint64_t borrow = subLimbs(t, out, gostWork.p, kLimbs);
    // a + b >= p when the addition carried or the subtraction did not borrow.
    ctCopy(ctMask(carry | (borrow ^ 1)), out, t, kLimbs);
}
} // namespace

std::uint8_t gostPointDouble(GostPoint& out, const GostPoint& in) {
    if (isZeroLimbs(in.Y, kLimbs))
        return 2;
    GostWorkArea& w = gostWork;
    if (w.aIsMinus3) {  // public: fixed by the parameter set
        gostModSub(w.dt1, in.X, in.Z);
        modAdd(w.dt2, in.X, in.Z);
        gostModMul(w.dw, w.dt1, w.dt2);
        gostModMulWord(w.dw, w.dw, 3);
    } else {
        gostModSqr(w.dt1, in.X);
        gostModSqr(w.dt2, in.Z);
        gostModMul(w.dt2, w.dt2, w.a);
        gostModMulWord(w.dt1, w.dt1, 3);
        modAdd(w.dw, w.dt2, w.dt1);
    }
    // s = 2*Y*Z, R = Y*s, B = 2*X*R, h = w^2 - 2*B
    gostModMul(w.ds, in.Y, in.Z);
    gostModMulWord(w.ds, w.ds, 2);
    gostModMul(w.dR, in.Y, w.ds);
    gostModMul(w.dB, in.X, w.dR);
    gostModMulWord(w.dB, w.dB, 2);
    // in is not read below: out may be in.
    gostModSqr(w.dRR, w.dR);
    gostModSqr(w.dss, w.ds);
    gostModMul(w.dsss, w.ds, w.dss);
    gostModSqr(w.dh, w.dw);
    gostModMulWord(w.dt1, w.dB, 2);
    gostModSub(w.dh, w.dh, w.dt1);
    // X' = h*s, Y' = w*(B - h) - 2*R^2, Z' = s^3
    gostModMul(out.X, w.dh, w.ds);
    gostModSub(w.dt1, w.dB, w.dh);
    gostModMul(w.dt1, w.dw, w.dt1);
    gostModMulWord(w.dt2, w.dRR, 2);
    gostModSub(out.Y, w.dt1, w.dt2);
    copyLimbs(out.Z, w.dsss, kLimbs);
    return 0;
}

}} // namespace orv::gost
