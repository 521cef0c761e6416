// Field multiplication and squaring modulo p: 64-bit limbs, full 512-bit products
// (column by column), then the reduction the selected letter chooses.
#include "GostArith.h"
#include "GostCt.h"

namespace orv { namespace gost {

void gostMulWide(std::uint64_t wide[2 * kLimbs], const Fe a, const Fe b) {
    // Column k collects a[i]*b[j] with i + j = k; at most 4 products, so the carry
    // word c2 stays below 8.
    std::uint64_t c0 = 0, c1 = 0, c2 = 0;
    mulAcc(a[0], b[0], c0, c1, c2);
    wide[0] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[0], b[1], c0, c1, c2); mulAcc(a[1], b[0], c0, c1, c2);
    wide[1] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[0], b[2], c0, c1, c2); mulAcc(a[1], b[1], c0, c1, c2); mulAcc(a[2], b[0], c0, c1, c2);
    wide[2] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[0], b[3], c0, c1, c2); mulAcc(a[1], b[2], c0, c1, c2);
    mulAcc(a[2], b[1], c0, c1, c2); mulAcc(a[3], b[0], c0, c1, c2);
    wide[3] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[1], b[3], c0, c1, c2); mulAcc(a[2], b[2], c0, c1, c2); mulAcc(a[3], b[1], c0, c1, c2);
    wide[4] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[2], b[3], c0, c1, c2); mulAcc(a[3], b[2], c0, c1, c2);
    wide[5] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[3], b[3], c0, c1, c2);
    wide[6] = c0;
    wide[7] = c1;  // the product is below 2^512, so c2 is 0 here
}

void gostModMul(Fe out, const Fe a, const Fe b) {
    std::uint64_t wide[2 * kLimbs];
    gostMulWide(wide, a, b);
    gostReduce(out, wide);
}

void gostModSqr(Fe out, const Fe a) {
    // Cross products a[i]*a[j], i < j, once; doubled by a one-bit shift; then the squares.
    std::uint64_t wide[2 * kLimbs];
    std::uint64_t c0 = 0, c1 = 0, c2 = 0;
    wide[0] = 0;
    mulAcc(a[0], a[1], c0, c1, c2);
    wide[1] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[0], a[2], c0, c1, c2);
    wide[2] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[0], a[3], c0, c1, c2); mulAcc(a[1], a[2], c0, c1, c2);
    wide[3] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[1], a[3], c0, c1, c2);
    wide[4] = c0; c0 = c1; c1 = c2; c2 = 0;
    mulAcc(a[2], a[3], c0, c1, c2);
    wide[5] = c0;
    wide[6] = c1;  // the cross sum is below 2^511: nothing beyond limb 6
    // Doubling keeps it below 2^512.
    wide[7] = wide[6] >> 63;
    for (int i = 6; i > 0; --i)
        wide[i] = (wide[i] << 1) | (wide[i - 1] >> 63);
    // wide[0] is still 0.
    std::uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint64_t lo, hi;
        mulWide(a[i], a[i], lo, hi);
        std::uint64_t s = wide[2 * i] + lo;
        std::uint64_t c = (s < lo);
        s += carry;
        c += (s < carry);
        wide[2 * i] = s;
        // hi <= 2^64 - 2, c <= 1: hi + c does not wrap
        const std::uint64_t h = hi + c;
        std::uint64_t t = wide[2 * i + 1] + h;
        carry = (t < h);
        wide[2 * i + 1] = t;
    }
    gostReduce(out, wide);
}

void gostModMulWord(Fe out, const Fe a, std::uint32_t word) {
    std::uint64_t wide[2 * kLimbs] = {};
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < kLimbs; ++i) {
        std::uint64_t lo, hi;
        mulWide(a[i], word, lo, hi);
        wide[i] = lo + carry;
        carry = hi + (wide[i] < lo);  // hi < 2^32: no wrap
    }
    wide[kLimbs] = carry;
    gostReduce(out, wide);
}

void gostModSub(Fe out, const Fe b, const Fe a) {
    // b - a wraps below 0 exactly when it borrows; p is then added once (masked).
    const std::uint64_t mask = ctMask(subLimbs(out, b, a, kLimbs));
    std::uint64_t fix[kLimbs];
    for (std::size_t i = 0; i < kLimbs; ++i)
        fix[i] = gostWork.p[i] & mask;
    addLimbs(out, out, fix, kLimbs);
}

void gostReduce(Fe out, const std::uint64_t wide[2 * kLimbs]) {
    if (gostWork.letter == 'A') {  // the letter is public: this branch leaks nothing
        gostReduceA(out, wide);
        return;
    }
    std::uint32_t value[4 * kLimbs];
    std::uint32_t rem[kWords];
    wordsFromLimbs(value, wide, 2 * kLimbs);
    bnMod(rem, value, 4 * kLimbs, gostWork.p32, kWords);  // p is never zero
    limbsFromWords(out, rem, kLimbs);
}

}} // namespace orv::gost
