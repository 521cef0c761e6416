// The table of 2^i * P: Q starts at P and is doubled in place 256 times; the 256 values
// of Q are converted to affine with one inversion (Montgomery's batch trick). Public
// data only: nothing here depends on a key or a nonce.
#include "GostArith.h"

namespace orv { namespace gost {

std::uint8_t gostBuildDoublings() {
    GostWorkArea& w = gostWork;
    GostDoublings& t = w.doublings;
    if (t.letter == w.letter)
        return 0;
    t.letter = 0;  // stays invalid unless every step succeeds

    w.Q = w.base;
    for (unsigned i = 0; i < 256; ++i) {
        copyLimbs(t.x[i], w.Q.X, kLimbs);  // projective X and Y for now
        copyLimbs(t.y[i], w.Q.Y, kLimbs);
        copyLimbs(t.zs[i], w.Q.Z, kLimbs);
        const std::uint8_t status = gostPointDouble(w.Q, w.Q);
        if (status != 0)
            return status;
    }

    // Batch inversion: one inverse of Z_0 * ... * Z_255, then walking back,
    // Z_i^-1 = (Z_0 ... Z_i)^-1 * (Z_0 ... Z_{i-1}) and (Z_0 ... Z_{i-1})^-1 = (Z_0 ... Z_i)^-1 * Z_i.
    copyLimbs(t.zPrefix[0], t.zs[0], kLimbs);
    for (unsigned i = 1; i < 256; ++i)
        gostModMul(t.zPrefix[i], t.zPrefix[i - 1], t.zs[i]);
    const std::uint8_t status = gostModInverse(w.zInv, t.zPrefix[255], w.p);
    if (status != 0)
        return status;
    for (unsigned i = 256; i-- > 0;) {
        if (i > 0) {
            gostModMul(w.zi, w.zInv, t.zPrefix[i - 1]);
            gostModMul(w.zInv, w.zInv, t.zs[i]);
        } else {
            copyLimbs(w.zi, w.zInv, kLimbs);
        }
        gostModMul(t.x[i], t.x[i], w.zi);
        gostModMul(t.y[i], t.y[i], w.zi);
    }
    t.letter = w.letter;
    return 0;
}

}} // namespace orv::gost
