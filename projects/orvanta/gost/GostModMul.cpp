// Field multiplication and squaring modulo p: 64-bit limbs, full 512-bit products
// (row by row, straight-line code), then the reduction the selected letter chooses.
#include "GostArith.h"
#include "GostCt.h"
#include "GostReduceA.h"

namespace orv { namespace gost {

namespace {

inline void mulWideInline(std::uint64_t wide[2 * kLimbs], const Fe a, const Fe b) {
    const std::uint64_t b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3];
    std::uint64_t r0, r1, r2, r3, r4, r5, r6, r7, c;
    // Each row adds a[i]*b into limbs i..i+4; mac never overflows (see GostWords.h).
    c = 0;
    r0 = mac(a[0], b0, 0, c); r1 = mac(a[0], b1, 0, c); r2 = mac(a[0], b2, 0, c);
    r3 = mac(a[0], b3, 0, c); r4 = c;
    c = 0;
    r1 = mac(a[1], b0, r1, c); r2 = mac(a[1], b1, r2, c); r3 = mac(a[1], b2, r3, c);
    r4 = mac(a[1], b3, r4, c); r5 = c;
    c = 0;
    r2 = mac(a[2], b0, r2, c); r3 = mac(a[2], b1, r3, c); r4 = mac(a[2], b2, r4, c);
    r5 = mac(a[2], b3, r5, c); r6 = c;
    c = 0;
    r3 = mac(a[3], b0, r3, c); r4 = mac(a[3], b1, r4, c); r5 = mac(a[3], b2, r5, c);
    r6 = mac(a[3], b3, r6, c); r7 = c;
    wide[0] = r0; wide[1] = r1; wide[2] = r2; wide[3] = r3;
    wide[4] = r4; wide[5] = r5; wide[6] = r6; wide[7] = r7;
}

inline void sqrWideInline(std::uint64_t wide[2 * kLimbs], const Fe a) {
    // Cross products a[i]*a[j], i < j, once; doubled by a one-bit shift; then the squares.
    const std::uint64_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    std::uint64_t r0, r1, r2, r3, r4, r5, r6, r7, c;
    c = 0;
    r1 = mac(a0, a1, 0, c); r2 = mac(a0, a2, 0, c); r3 = mac(a0, a3, 0, c); r4 = c;
    c = 0;
    r3 = mac(a1, a2, r3, c); r4 = mac(a1, a3, r4, c); r5 = c;
    c = 0;
    r5 = mac(a2, a3, r5, c); r6 = c;
    // The cross sum is below 2^511: doubled, it still fits in limbs 1..7.
    r7 = r6 >> 63;
    r6 = (r6 << 1) | (r5 >> 63);
    r5 = (r5 << 1) | (r4 >> 63);
    r4 = (r4 << 1) | (r3 >> 63);
    r3 = (r3 << 1) | (r2 >> 63);
    r2 = (r2 << 1) | (r1 >> 63);
    r1 = r1 << 1;
    // Squares: a[i]^2 into limbs 2i and 2i+1, carries rippling up; the total is a^2 < 2^512.
    c = 0;
    r0 = mac(a0, a0, 0, c);
    std::uint64_t k = 0;
    r1 = adc(r1, c, k);
    c = k; r2 = mac(a1, a1, r2, c);
    k = 0; r3 = adc(r3, c, k);
    c = k; r4 = mac(a2, a2, r4, c);
    k = 0; r5 = adc(r5, c, k);
    c = k; r6 = mac(a3, a3, r6, c);
    k = 0; r7 = adc(r7, c, k);
    wide[0] = r0; wide[1] = r1; wide[2] = r2; wide[3] = r3;
    wide[4] = r4; wide[5] = r5; wide[6] = r6; wide[7] = r7;
}

// Other primes: the long division.
void reduceGeneric(Fe out, const std::uint64_t wide[2 * kLimbs]) {
    std::uint32_t value[4 * kLimbs];
    std::uint32_t rem[kWords];
    wordsFromLimbs(value, wide, 2 * kLimbs);
    bnMod(rem, value, 4 * kLimbs, gostWork.p32, kWords);  // p is never zero
    limbsFromWords(out, rem, kLimbs);
}

} // namespace

void gostMulWide(std::uint64_t wide[2 * kLimbs], const Fe a, const Fe b) { mulWideInline(wide, a, b); }

// The letter is public: the branches on it leak nothing.
void gostModMul(Fe out, const Fe a, const Fe b) {
    std::uint64_t wide[2 * kLimbs];
    mulWideInline(wide, a, b);
    if (gostWork.letter == 'A')
        gostReduceA(out, wide);
    else
        reduceGeneric(out, wide);
}

void gostModSqr(Fe out, const Fe a) {
    std::uint64_t wide[2 * kLimbs];
    sqrWideInline(wide, a);
    if (gostWork.letter == 'A')
        gostReduceA(out, wide);
    else
        reduceGeneric(out, wide);
}

void gostModMulWord(Fe out, const Fe a, std::uint32_t word) {
    std::uint64_t c = 0;
    std::uint64_t wide[2 * kLimbs];
    wide[0] = mac(a[0], word, 0, c);
    wide[1] = mac(a[1], word, 0, c);
    wide[2] = mac(a[2], word, 0, c);
    wide[3] = mac(a[3], word, 0, c);
    wide[4] = c;
    wide[5] = wide[6] = wide[7] = 0;
    if (gostWork.letter == 'A')
        gostReduceA(out, wide);  // inlined: the zero limbs fold away
    else
        reduceGeneric(out, wide);
}

void gostModSub(Fe out, const Fe b, const Fe a) {
    // b - a wraps below 0 exactly when it borrows; p is then added once (masked).
    const std::uint64_t* p = gostWork.p;
    std::uint64_t borrow = 0;
    const std::uint64_t d0 = sbb(b[0], a[0], borrow);
    const std::uint64_t d1 = sbb(b[1], a[1], borrow);
    const std::uint64_t d2 = sbb(b[2], a[2], borrow);
    const std::uint64_t d3 = sbb(b[3], a[3], borrow);
    const std::uint64_t mask = ctMask(borrow);
    std::uint64_t carry = 0;
    out[0] = adc(d0, p[0] & mask, carry);
    out[1] = adc(d1, p[1] & mask, carry);
    out[2] = adc(d2, p[2] & mask, carry);
    out[3] = adc(d3, p[3] & mask, carry);
}

void gostReduce(Fe out, const std::uint64_t wide[2 * kLimbs]) {
    if (gostWork.letter == 'A')
        gostReduceA(out, wide);
    else
        reduceGeneric(out, wide);
}

}} // namespace orv::gost
