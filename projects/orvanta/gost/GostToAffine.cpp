// R from projective to affine: one inversion of Z per signature.
#include "GostArith.h"

namespace orv { namespace gost {

namespace {
// out = a * b mod p by the long division.
void mulModP(Fe out, const Fe a, const Fe b) {
    GostWorkArea& w = gostWork;
    gostMulWide(w.wide, a, b);
    std::uint32_t value[4 * kLimbs], rem[kWords];
    wordsFromLimbs(value, w.wide, 2 * kLimbs);
    bnMod(rem, value, 4 * kLimbs, w.p32, kWords);
    limbsFromWords(out, rem, kLimbs);
    wipeBytes(value, sizeof value);
    wipeBytes(rem, sizeof rem);
}
} // namespace

std::uint8_t gostToAffine() {
    GostWorkArea& w = gostWork;
    const std::uint8_t status = gostModInverse(w.zInv, w.R.Z, w.p);
    if (status != 0)
        return status;
    mulModP(w.R.X, w.R.X, w.zInv);
    mulModP(w.R.Y, w.R.Y, w.zInv);
    zeroLimbs(w.R.Z, kLimbs);
    return 0;
}

}} // namespace orv::gost
