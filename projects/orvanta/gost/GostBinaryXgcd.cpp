// Binary extended Euclid on sign-magnitude values 288 bits wide (a 256-bit operand and
// 32 spare bits). Its running time depends on the operands; it is used once per
// signature, on the projective Z.
//
// gostBinaryXgcdSignMagnitude is the algorithm as it stands, for any operands.
// gostBinaryXgcd runs the same steps on two's-complement values instead (no comparison of
// magnitudes per update, no branch per sign) when it can vouch for the outcome: operands
// below 2^256, one of them odd, no coefficient ever near the 288-bit width (where the
// sign-magnitude form would drop a carry and report it), and both final coefficients
// non-zero (a zero's sign byte depends on how it was reached). The values are then the
// same integers in both forms and the result is identical; otherwise it hands over to
// the sign-magnitude form from the start. With an odd x >= y (the engine's inversions:
// the modulus p is odd and the larger operand) it keeps only the coefficients of y, which
// halves the work (xgcdOddFirst).
#include "GostArith.h"
#include "GostCt.h"

#include "logging.h"

namespace orv { namespace gost {

namespace {

constexpr std::uint64_t kTopMask = 0xFFFFFFFFu;  // valid bits of the top limb
constexpr std::uint64_t kTopBit = 0x80000000u;   // bit 287

bool isZero(const XgcdValue a) { return isZeroLimbs(a, kXgcdLimbs); }
bool isEven(const XgcdValue a) { return (a[0] & 1) == 0; }

// a >= b
bool notLess(const XgcdValue a, const XgcdValue b) {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < kXgcdLimbs; ++i)
        sbb(a[i], b[i], borrow);
    return borrow == 0;
}

// a >>= 1, with `topBit` (0 or 1) shifted in as bit 287.
void halve(XgcdValue a, std::uint64_t topBit = 0) {
    a[0] = (a[0] >> 1) | (a[1] << 63);
    a[1] = (a[1] >> 1) | (a[2] << 63);
    a[2] = (a[2] >> 1) | (a[3] << 63);
    a[3] = (a[3] >> 1) | (a[4] << 63);
    a[4] = (a[4] >> 1) | (topBit ? kTopBit : 0);
}

// out = a + b; returns the carry out of bit 287, which is dropped from out.
std::uint64_t addMagnitudes(XgcdValue out, const XgcdValue a, const XgcdValue b) {
    std::uint64_t c = 0;  // both below 2^288: no carry out of 320 bits
    for (std::size_t i = 0; i < kXgcdLimbs; ++i)
        out[i] = adc(a[i], b[i], c);
    const std::uint64_t carry = out[kXgcdLimbs - 1] >> 32;
    out[kXgcdLimbs - 1] &= kTopMask;
    return carry;
}

// out = a + (negate ? -b : b) for sign-magnitude values; returns the carry out of the
// working width (only adding magnitudes can carry).
std::uint64_t signedAdd(GostSigned& out, const GostSigned& a, const GostSigned& b, bool negate) {
    const std::uint8_t bSign = negate ? static_cast<std::uint8_t>(b.sign ^ 1) : b.sign;
    if (a.sign == bSign) {
        out.sign = a.sign;
        return addMagnitudes(out.mag, a.mag, b.mag);
    }
    // The smaller magnitude from the larger: a - b, negated when it borrowed (both are
    // below 2^288, so the 320-bit difference is exact).
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < kXgcdLimbs; ++i)
        out.mag[i] = sbb(a.mag[i], b.mag[i], borrow);
    if (borrow) {
        std::uint64_t c = 1;
        for (std::size_t i = 0; i < kXgcdLimbs; ++i)
            out.mag[i] = adc(~out.mag[i], 0, c);
        out.sign = bSign;
    } else {
        out.sign = a.sign;
    }
    return 0;
}

void overflowNote(const char* text) {
    // Cannot happen for operands below 2^256; kept as a visible trace if it ever does.
    FBLOG_WARN("gost", text);
}

// c = (c + y) / 2 and d = (d - x) / 2, the update when c and d are not both even.
void stepHalf(GostSigned& c, GostSigned& d, const GostSigned& x, const GostSigned& y,
              const char* cNote, const char* dNote) {
    const std::uint64_t cCarry = signedAdd(c, c, y, false);
    if (cCarry && cNote)
        overflowNote(cNote);
    halve(c.mag);  // a carry of c is lost
    const std::uint64_t dCarry = signedAdd(d, d, x, true);
    if (dCarry)
        overflowNote(dNote);
    halve(d.mag, dCarry);  // ... while d keeps its carried bit at the top
}

void setSigned(GostSigned& a, std::uint64_t small) {
    zeroLimbs(a.mag, kXgcdLimbs);
    a.mag[0] = small;
    a.sign = 1;
}

} // namespace

std::uint8_t gostBinaryXgcdSignMagnitude(const XgcdValue x, const XgcdValue y, GostXgcdResult& out) {
    GostSigned sx, sy;
    copyLimbs(sx.mag, x, kXgcdLimbs);
    copyLimbs(sy.mag, y, kXgcdLimbs);
    sx.sign = sy.sign = 1;
    if (isZero(x) && isZero(y))
        return 2;  // no gcd to find, and step 1 would never end

    XgcdValue u, v;
    copyLimbs(u, x, kXgcdLimbs);
    copyLimbs(v, y, kXgcdLimbs);
    unsigned twos = 0;  // g = 2^twos
    while (isEven(u) && isEven(v)) {
        halve(u);
        halve(v);
        ++twos;
    }

    // Invariants: A*x + B*y = u*g and C*x + D*y = v*g (for odd x or y, i.e. g = 1).
    GostSigned A, B, C, D;
    setSigned(A, 1);
    setSigned(B, 0);
    setSigned(C, 0);
    setSigned(D, 1);

    if (!isZero(u)) {
        do {
            while (isEven(u)) {
                halve(u);
                if (isEven(A.mag) && isEven(B.mag)) {
                    halve(A.mag);
                    halve(B.mag);
                } else {
                    stepHalf(A, B, sx, sy, "fuck1", "fuck2");
                }
            }
            while (isEven(v)) {
                if (isZero(v))
                    return 2;
                halve(v);
                if (isEven(C.mag) && isEven(D.mag)) {
                    halve(C.mag);
                    halve(D.mag);
                } else {
                    stepHalf(C, D, sx, sy, nullptr, "fuck!!");
                }
            }
            if (notLess(u, v)) {
                subLimbs(u, u, v, kXgcdLimbs);
                if (signedAdd(A, A, C, true))
                    overflowNote("fuck3");
                if (signedAdd(B, B, D, true))
                    overflowNote("fuck4");
            } else {
                subLimbs(v, v, u, kXgcdLimbs);
                signedAdd(C, C, A, true);
                signedAdd(D, D, B, true);
            }
        } while (!isZero(u));
    }

    // gcd = g * v
    copyLimbs(out.gcd, v, kXgcdLimbs);
    for (unsigned i = 0; i < twos; ++i) {
        for (std::size_t j = kXgcdLimbs; j-- > 1;)
            out.gcd[j] = (out.gcd[j] << 1) | (out.gcd[j - 1] >> 63);
        out.gcd[0] <<= 1;
    }
    out.cx = C;
    out.cy = D;
    return 0;
}

namespace {

// Two's-complement coefficients of the shortcut: 320 bits, far wider than they get.
using Twos = std::uint64_t[kXgcdLimbs];
using Mag = std::uint64_t[kLimbs];  // u and v, below 2^256

// Non-zero when a value with this top limb is 2^286 or more in magnitude (top limb outside
// [-2^30, 2^30)): near enough to the 288-bit width to leave it to the other form.
ORV_GOST_INLINE std::uint64_t nearWidth(std::uint64_t top) { return (top + 0x40000000u) >> 31; }

void setTwos(Twos a, std::uint64_t small) {
    zeroLimbs(a, kXgcdLimbs);
    a[0] = small;
}

// a = (a + (b & mask)) / 2 exactly (the sum is even); b is non-negative, below 2^256.
// Returns a non-zero value when the sum reached 2^287 in magnitude.
ORV_GOST_INLINE std::uint64_t addHalve(Twos a, const Mag b, std::uint64_t mask) {
    Carry c = 0;
    const std::uint64_t s0 = addc(a[0], b[0] & mask, c);
    const std::uint64_t s1 = addc(a[1], b[1] & mask, c);
    const std::uint64_t s2 = addc(a[2], b[2] & mask, c);
    const std::uint64_t s3 = addc(a[3], b[3] & mask, c);
    const std::uint64_t s4 = addc(a[4], 0, c);
    a[0] = (s0 >> 1) | (s1 << 63);
    a[1] = (s1 >> 1) | (s2 << 63);
    a[2] = (s2 >> 1) | (s3 << 63);
    a[3] = (s3 >> 1) | (s4 << 63);
    a[4] = static_cast<std::uint64_t>(static_cast<std::int64_t>(s4) >> 1);
    return nearWidth(s4);
}

// a = (a - (b & mask)) / 2 exactly, as addHalve.
ORV_GOST_INLINE std::uint64_t subHalve(Twos a, const Mag b, std::uint64_t mask) {
    Carry c = 0;
    const std::uint64_t s0 = subb(a[0], b[0] & mask, c);
    const std::uint64_t s1 = subb(a[1], b[1] & mask, c);
    const std::uint64_t s2 = subb(a[2], b[2] & mask, c);
    const std::uint64_t s3 = subb(a[3], b[3] & mask, c);
    const std::uint64_t s4 = subb(a[4], 0, c);
    a[0] = (s0 >> 1) | (s1 << 63);
    a[1] = (s1 >> 1) | (s2 << 63);
    a[2] = (s2 >> 1) | (s3 << 63);
    a[3] = (s3 >> 1) | (s4 << 63);
    a[4] = static_cast<std::uint64_t>(static_cast<std::int64_t>(s4) >> 1);
    return nearWidth(s4);
}

// The steps with mask = all-ones when c and d are not both even: (c + y)/2 and
// (d - x)/2, else c/2 and d/2.
ORV_GOST_INLINE std::uint64_t halveStep(Twos c, Twos d, const Mag x, const Mag y) {
    const std::uint64_t mask = ctMask((c[0] | d[0]) & 1);
    return addHalve(c, y, mask) | subHalve(d, x, mask);
}

// The coefficients of the subtraction step: mask ? c -= a : a -= c (c - a being the
// negation of a - c). Non-zero when the difference reached 2^287 in magnitude.
ORV_GOST_INLINE std::uint64_t subtractStep(Twos a, Twos c, std::uint64_t mask) {
    Carry borrow = 0;
    const std::uint64_t d0 = subb(a[0], c[0], borrow);
    const std::uint64_t d1 = subb(a[1], c[1], borrow);
    const std::uint64_t d2 = subb(a[2], c[2], borrow);
    const std::uint64_t d3 = subb(a[3], c[3], borrow);
    const std::uint64_t d4 = subb(a[4], c[4], borrow);
    Carry carry = static_cast<Carry>(mask & 1);  // -d = ~d + 1
    const std::uint64_t n0 = addc(d0 ^ mask, 0, carry);
    const std::uint64_t n1 = addc(d1 ^ mask, 0, carry);
    const std::uint64_t n2 = addc(d2 ^ mask, 0, carry);
    const std::uint64_t n3 = addc(d3 ^ mask, 0, carry);
    const std::uint64_t n4 = addc(d4 ^ mask, 0, carry);
    a[0] = ctMux(mask, a[0], n0);
    a[1] = ctMux(mask, a[1], n1);
    a[2] = ctMux(mask, a[2], n2);
    a[3] = ctMux(mask, a[3], n3);
    a[4] = ctMux(mask, a[4], n4);
    c[0] = ctMux(mask, n0, c[0]);
    c[1] = ctMux(mask, n1, c[1]);
    c[2] = ctMux(mask, n2, c[2]);
    c[3] = ctMux(mask, n3, c[3]);
    c[4] = ctMux(mask, n4, c[4]);
    return nearWidth(d4);
}

ORV_GOST_INLINE bool isEvenMag(const Mag a) { return (a[0] & 1) == 0; }

ORV_GOST_INLINE void halveMag(Mag a) {
    a[0] = (a[0] >> 1) | (a[1] << 63);
    a[1] = (a[1] >> 1) | (a[2] << 63);
    a[2] = (a[2] >> 1) | (a[3] << 63);
    a[3] >>= 1;
}

// u >= v: u -= v, else v -= u; returns all-ones when v was the larger. Without a
// branch: the comparison goes either way at random.
ORV_GOST_INLINE std::uint64_t subtractMagnitudes(Mag u, Mag v) {
    Carry borrow = 0;
    const std::uint64_t d0 = subb(u[0], v[0], borrow);
    const std::uint64_t d1 = subb(u[1], v[1], borrow);
    const std::uint64_t d2 = subb(u[2], v[2], borrow);
    const std::uint64_t d3 = subb(u[3], v[3], borrow);
    const std::uint64_t vBigger = ctMask(borrow);
    Carry carry = borrow;  // |u - v| = ~diff + 1 when it borrowed
    const std::uint64_t m0 = addc(d0 ^ vBigger, 0, carry);
    const std::uint64_t m1 = addc(d1 ^ vBigger, 0, carry);
    const std::uint64_t m2 = addc(d2 ^ vBigger, 0, carry);
    const std::uint64_t m3 = addc(d3 ^ vBigger, 0, carry);
    u[0] = ctMux(vBigger, u[0], m0);
    u[1] = ctMux(vBigger, u[1], m1);
    u[2] = ctMux(vBigger, u[2], m2);
    u[3] = ctMux(vBigger, u[3], m3);
    v[0] = ctMux(vBigger, m0, v[0]);
    v[1] = ctMux(vBigger, m1, v[1]);
    v[2] = ctMux(vBigger, m2, v[2]);
    v[3] = ctMux(vBigger, m3, v[3]);
    return vBigger;
}

// The sign-magnitude form of a coefficient known to be below 2^287 in magnitude.
void toSigned(GostSigned& out, const Twos a) {
    const std::uint64_t negative = a[4] >> 63;
    Carry c = static_cast<Carry>(negative);
    for (std::size_t i = 0; i < kXgcdLimbs; ++i)  // |a|: complement and add one when negative
        out.mag[i] = addc(a[i] ^ ctMask(negative), 0, c);
    out.sign = static_cast<std::uint8_t>(negative ^ 1);
}

enum class Shortcut { Done, Declined };

Shortcut xgcdTwos(const XgcdValue x, const XgcdValue y, GostXgcdResult& out, std::uint8_t& status) {
    if (x[4] != 0 || y[4] != 0 || (isEven(x) && isEven(y)))
        return Shortcut::Declined;
    Mag xm, ym, u, v;
    copyLimbs(xm, x, kLimbs);
    copyLimbs(ym, y, kLimbs);
    copyLimbs(u, x, kLimbs);
    copyLimbs(v, y, kLimbs);
    // One operand odd: g = 1 and the steps keep A*x + B*y = u and C*x + D*y = v, which
    // makes (A + y), (B - x), (C + y) and (D - x) even wherever they are halved.
    Twos A, B, C, D;
    setTwos(A, 1);
    setTwos(B, 0);
    setTwos(C, 0);
    setTwos(D, 1);
    std::uint64_t wild = 0;
    if (!isZeroLimbs(u, kLimbs)) {
        do {
            while (isEvenMag(u)) {
                halveMag(u);
                wild |= halveStep(A, B, xm, ym);
            }
            while (isEvenMag(v)) {
                if (isZeroLimbs(v, kLimbs)) {
                    if (wild)
                        return Shortcut::Declined;  // the other form may have logged on the way
                    status = 2;
                    return Shortcut::Done;
                }
                halveMag(v);
                wild |= halveStep(C, D, xm, ym);
            }
            // u >= v: u -= v, (A, B) -= (C, D); else v -= u, (C, D) -= (A, B).
            const std::uint64_t vBigger = subtractMagnitudes(u, v);
            wild |= subtractStep(A, C, vBigger) | subtractStep(B, D, vBigger);
        } while (!isZeroLimbs(u, kLimbs));
    }
    if (wild || isZeroLimbs(C, kXgcdLimbs) || isZeroLimbs(D, kXgcdLimbs))
        return Shortcut::Declined;
    copyLimbs(out.gcd, v, kLimbs);
    out.gcd[4] = 0;
    toSigned(out.cx, C);
    toSigned(out.cy, D);
    status = 0;
    return Shortcut::Done;
}

// The steps for odd x >= y (the inversion's case: the modulus comes first), on the
// coefficients of y alone. Since x is odd, A*x + B*y = u makes A = u + B*y (mod 2), so
// "A and B both even" is "B even" (u is even where it is asked), and likewise for C and
// D; A and C need not be kept. They stay small: |A| = |u - B*y| / x <= 1 + |B| because
// u <= x and y <= x, and |C| <= 1 + |D| because v <= y. With B and D kept below 2^286,
// no value of the sign-magnitude form comes near its width. C is recovered at the end
// from C*x + D*y = gcd.
Shortcut xgcdOddFirst(const XgcdValue x, const XgcdValue y, GostXgcdResult& out, std::uint8_t& status) {
    Mag xm, ym, u, v;
    copyLimbs(xm, x, kLimbs);
    copyLimbs(ym, y, kLimbs);
    copyLimbs(u, x, kLimbs);
    copyLimbs(v, y, kLimbs);
    Twos B, D;
    setTwos(B, 0);
    setTwos(D, 1);
    std::uint64_t wild = 0;
    do {  // u = x is odd, so not zero
        while (isEvenMag(u)) {
            halveMag(u);
            wild |= subHalve(B, xm, ctMask(B[0] & 1));
        }
        while (isEvenMag(v)) {
            if (isZeroLimbs(v, kLimbs)) {
                if (wild)
                    return Shortcut::Declined;
                status = 2;
                return Shortcut::Done;
            }
            halveMag(v);
            wild |= subHalve(D, xm, ctMask(D[0] & 1));
        }
        const std::uint64_t vBigger = subtractMagnitudes(u, v);
        wild |= subtractStep(B, D, vBigger);
    } while (!isZeroLimbs(u, kLimbs));
    if (wild)
        return Shortcut::Declined;

    // C = (v - D*y) / x, exact: the quotient modulo 2^320 is the integer itself, as
    // |C| < 2^319. Limb by limb with x^-1 mod 2^64 (Hensel): each quotient limb clears
    // the lowest remaining limb of the dividend.
    Twos n, C;
    for (std::size_t i = 0; i < kXgcdLimbs; ++i)  // n = v - D*y mod 2^320
        n[i] = i < kLimbs ? v[i] : 0;
    for (std::size_t i = 0; i < kLimbs; ++i) {
        std::uint64_t carry = 0;
        Carry borrow = 0;
        for (std::size_t j = 0; i + j < kXgcdLimbs; ++j) {
            std::uint64_t lo, hi;
            mulWide(D[j], ym[i], lo, hi);
            Carry c = 0;
            const std::uint64_t prod = addc(lo, carry, c);
            carry = hi + c;
            n[i + j] = subb(n[i + j], prod, borrow);
        }
    }
    std::uint64_t inv = xm[0];  // x^-1 mod 2^64 by Newton: 3, 6, 12, 24, 48, 96 bits
    for (int i = 0; i < 5; ++i)
        inv *= 2 - xm[0] * inv;
    for (std::size_t i = 0; i < kXgcdLimbs; ++i) {
        C[i] = n[i] * inv;
        std::uint64_t carry = 0;
        Carry borrow = 0;
        for (std::size_t j = 0; i + j < kXgcdLimbs; ++j) {  // n -= C[i] * x * 2^(64 i)
            std::uint64_t lo = 0, hi = 0;
            if (j < kLimbs)
                mulWide(C[i], xm[j], lo, hi);
            Carry c = 0;
            const std::uint64_t prod = addc(lo, carry, c);
            carry = hi + c;
            n[i + j] = subb(n[i + j], prod, borrow);
        }
    }
    if (isZeroLimbs(C, kXgcdLimbs) || isZeroLimbs(D, kXgcdLimbs))
        return Shortcut::Declined;
    copyLimbs(out.gcd, v, kLimbs);
    out.gcd[4] = 0;
    toSigned(out.cx, C);
    toSigned(out.cy, D);
    status = 0;
    return Shortcut::Done;
}

} // namespace

std::uint8_t gostBinaryXgcd(const XgcdValue x, const XgcdValue y, GostXgcdResult& out) {
    std::uint8_t status = 0;
    if (x[4] == 0 && y[4] == 0 && !isEven(x) && notLess(x, y)) {
        if (xgcdOddFirst(x, y, out, status) == Shortcut::Done)
            return status;
    } else if (xgcdTwos(x, y, out, status) == Shortcut::Done) {
        return status;
    }
    return gostBinaryXgcdSignMagnitude(x, y, out);
}

}} // namespace orv::gost
