// R from projective to affine: one inversion of Z per signature.
#include "GostArith.h"
#include "GostCt.h"
#include "PlatformRandom.h"

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

// A random factor in 1 .. p - 1, straight from the platform's generator: it changes no
// result, so it needs no seam of its own and leaves the nonces that tests fix alone.
bool drawBlind(Fe out) {
    std::uint8_t bytes[kBytes];
    const bool drawn = platformRandomBytes(bytes, sizeof bytes);
    std::uint32_t words[kWords], rem[kWords];
    wordsFromBytes(words, bytes, kBytes);
    wipeBytes(bytes, sizeof bytes);
    bnMod(rem, words, kWords, gostWork.p32, kWords);
    limbsFromWords(out, rem, kLimbs);
    wipeBytes(words, sizeof words);
    wipeBytes(rem, sizeof rem);
    out[0] |= ctIsZero(out[0] | out[1] | out[2] | out[3]) & 1;  // 0 would hide nothing
    return drawn;
}
} // namespace

std::uint8_t gostToAffine() {
    GostWorkArea& w = gostWork;
    // Z comes from the nonce, and the binary gcd takes longer or shorter with its operand.
    // It is given Z * b for a fresh random b instead: Z^-1 = (Z * b)^-1 * b. A zero Z
    // stays zero and still has no inverse.
    if (!drawBlind(w.blind))
        return 2;
    mulModP(w.zb, w.R.Z, w.blind);
    const std::uint8_t status = gostModInverse(w.zInv, w.zb, w.p);
    if (status != 0)
        return status;
    mulModP(w.zInv, w.zInv, w.blind);
    mulModP(w.R.X, w.R.X, w.zInv);
    mulModP(w.R.Y, w.R.Y, w.zInv);
    zeroLimbs(w.R.Z, kLimbs);
    return 0;
}

}} // namespace orv::gost
