// Projective point addition, R + Q (the textbook formulas, 12 multiplications and
// 2 squarings).
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

std::uint8_t gostPointAdd(GostPoint& out, const GostPoint& r, const GostPoint& q) {
    GostWorkArea& w = gostWork;
    gostModMul(w.u1, r.Y, q.Z);
    gostModMul(w.u2, q.Y, r.Z);
    gostModMul(w.v1, r.X, q.Z);
    gostModMul(w.v2, q.X, r.Z);
    // Equal x: either R = -Q (infinity) or R = Q (a doubling). The scalar multiplication
    // only meets this for its very first, discarded addition (P + P, whatever the nonce),
    // so the branch tells nothing about a secret.
    if (ctEqual(w.v1, w.v2, kLimbs)) {
        if (!ctEqual(w.u1, w.u2, kLimbs))
            return 2;
        return gostPointDouble(out, q);
    }
    gostModSub(w.u, w.u1, w.u2);
    gostModSub(w.v, w.v1, w.v2);
    gostModMul(w.w, r.Z, q.Z);
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
