// Binary extended Euclid on sign-magnitude values 288 bits wide (a 256-bit operand and
// 32 spare bits). Its running time depends on the operands; it is used once per
// signature, on the projective Z.
#include "GostArith.h"

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

std::uint8_t gostBinaryXgcd(const XgcdValue x, const XgcdValue y, GostXgcdResult& out) {
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

}} // namespace orv::gost
