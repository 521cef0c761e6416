// Modular inverse through the binary extended Euclid.
#include "GostArith.h"

namespace orv { namespace gost {

namespace {
bool greater(const Fe a, const Fe b) {
    for (std::size_t i = kLimbs; i-- > 0;)
        if (a[i] != b[i])
            return a[i] > b[i];
    return false;
}

void widen(XgcdValue out, const Fe a) {
    copyLimbs(out, a, kLimbs);
    out[kLimbs] = 0;
}
} // namespace

std::uint8_t gostModInverse(Fe out, const Fe a, const Fe m) {
    if (isZeroLimbs(a, kLimbs) || isZeroLimbs(m, kLimbs)) {
        zeroLimbs(out, kLimbs);
        return 17;
    }
    // The larger operand goes first; when a = m, m does.
    const bool aFirst = greater(a, m);
    XgcdValue x, y;
    widen(x, aFirst ? a : m);
    widen(y, aFirst ? m : a);
    GostXgcdResult res;
    const std::uint8_t status = gostBinaryXgcd(x, y, res);
    if (status != 0)
        return status;
    const XgcdValue one = {1, 0, 0, 0, 0};
    bool gcdIsOne = true;
    for (std::size_t i = 0; i < kXgcdLimbs; ++i)
        gcdIsOne = gcdIsOne && res.gcd[i] == one[i];
    if (!gcdIsOne) {
        zeroLimbs(out, kLimbs);
        return 17;
    }
    const GostSigned& coef = aFirst ? res.cx : res.cy;

    // t = |coef| mod m, then m - t for a negative coefficient.
    std::uint32_t mag[2 * kXgcdLimbs], mod[kWords], t[kWords];
    wordsFromLimbs(mag, coef.mag, kXgcdLimbs);
    wordsFromLimbs(mod, m, kLimbs);
    bnMod(t, mag, 2 * kXgcdLimbs, mod, kWords);  // m is not zero
    Fe tl;
    limbsFromWords(tl, t, kLimbs);
    if (coef.sign == 0)
        subLimbs(tl, m, tl, kLimbs);
    copyLimbs(out, tl, kLimbs);
    return 0;
}

}} // namespace orv::gost
