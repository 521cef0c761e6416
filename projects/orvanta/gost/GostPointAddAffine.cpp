// R + Q for a Q with Z = 1: the formulas of gostPointAdd with Z_Q = 1 put in, which
// saves the three multiplications by Z_Q (9 multiplications and 2 squarings).
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

std::uint8_t gostPointAddAffine(GostPoint& out, const GostPoint& r, const GostPoint& q) {
    GostWorkArea& w = gostWork;
    // u1 = Y_R, v1 = X_R
    gostModMul(w.u2, q.Y, r.Z);
    gostModMul(w.v2, q.X, r.Z);
    // Equal x: R = -Q (infinity) or R = Q (a doubling). The scalar multiplication meets
    // this only in its first, discarded addition (P + P whatever the nonce), so the
    // branch tells nothing about a secret.
    if (ctEqual(r.X, w.v2, kLimbs)) {
        if (!ctEqual(r.Y, w.u2, kLimbs))
            return 2;
        return gostPointDouble(out, q);
    }
    gostModSub(w.u, r.Y, w.u2);
    gostModSub(w.v, r.X, w.v2);
    copyLimbs(w.w, r.Z, kLimbs);
    // r is not read below: out may be r.
    gostModSqr(w.uu, w.u);
    gostModSqr(w.vv, w.v);
    gostModMul(w.vvv, w.v, w.vv);
    gostModMul(w.vv2, w.vv, w.v2);
    // A = u^2*w - v^3 - 2*v^2*v2
    gostModMul(w.t1, w.uu, w.w);
    gostModSub(w.t1, w.t1, w.vvv);
    gostModMulWord(w.t2, w.vv2, 2);
    gostModSub(w.bigA, w.t1, w.t2);
    // X = v*A, Y = u*(v^2*v2 - A) - v^3*u2, Z = v^3*w
    gostModMul(out.X, w.v, w.bigA);
    gostModSub(w.t1, w.vv2, w.bigA);
    gostModMul(w.t1, w.u, w.t1);
    gostModMul(w.t2, w.vvv, w.u2);
    gostModSub(out.Y, w.t1, w.t2);
    gostModMul(out.Z, w.vvv, w.w);
    return 0;
}

}} // namespace orv::gost
