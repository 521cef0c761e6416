// k*P, right to left over all 256 bits: Q runs through 2^i*P (the table of doublings) and
// every bit costs one addition, kept when the bit is 1 and dropped when it is 0. Before R
// holds a point the addition adds P instead of R, so even the nonce's trailing zero bits
// run the same operations; the choices are masks, never branches on the nonce.
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

namespace {
void copyPoint(std::uint64_t mask, GostPoint& dst, const GostPoint& src) {
    ctCopy4(mask, dst.X, src.X);
    ctCopy4(mask, dst.Y, src.Y);
    ctCopy4(mask, dst.Z, src.Z);
}
} // namespace

std::uint8_t gostScalarMul(const std::uint32_t k[kWords]) {
    GostWorkArea& w = gostWork;
    const std::uint8_t built = gostBuildDoublings();
    if (built != 0)
        return built;
    w.rSet = 0;
    w.infinity = 0;
    zeroLimbs(w.Qi.Z, kLimbs);
    w.Qi.Z[0] = 1;
    for (unsigned i = 0; i < 256; ++i) {
        copyLimbs(w.Qi.X, w.doublings.x[i], kLimbs);
        copyLimbs(w.Qi.Y, w.doublings.y[i], kLimbs);
        const std::uint64_t bit = ctMask((k[i / 32] >> (i % 32)) & 1);
        w.addend = w.base;
        copyPoint(w.rSet, w.addend, w.R);
        // Every addition lands in the dummy slots first. Its only failure is R = -Q
        // (Q never has Y = 0 on these prime-order curves), which for a kept addition
        // leaves R unset and raises the infinity flag.
        const std::uint8_t status = gostPointAddAffine(w.dummy, w.addend, w.Qi);
        const std::uint64_t atInfinity = ctMask(status >> 1 & 1);
        const std::uint64_t real = bit & w.rSet;
        const std::uint64_t first = bit & ~w.rSet;
        copyPoint(real & ~atInfinity, w.R, w.dummy);
        copyPoint(first, w.R, w.Qi);
        w.infinity = (w.infinity & ~(real & ~atInfinity)) | (real & atInfinity);
        w.rSet = (w.rSet | bit) & ~(real & atInfinity);
    }
    return w.infinity ? 2 : 0;
}

}} // namespace orv::gost
