#pragma once
// Multi-word numbers of the engine. Field elements and coordinates are four 64-bit limbs,
// least significant first; the reductions modulo q and the long division work on 32-bit
// words (eight per 256-bit number), the size their quotient digits are estimated in.
// Bytes outside are little-endian 32-byte strings.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>  // _addcarry_u64 and _subborrow_u64
#endif

namespace orv { namespace gost {

constexpr std::size_t kLimbs = 4;   // 64-bit limbs of a 256-bit value
constexpr std::size_t kWords = 8;   // 32-bit words of a 256-bit value
constexpr std::size_t kBytes = 32;

using Fe = std::uint64_t[kLimbs];

// The carry out of sum = a + b (+ a carry in), and the borrow out of diff = a - b (- a
// borrow in), from the top bits alone. Comparisons such as `sum < b` would do, but a 32-bit
// build compares 64-bit values word by word and may branch between the words: these are
// plain logic on any target.
inline std::uint64_t carryOut(std::uint64_t a, std::uint64_t b, std::uint64_t sum) {
    return ((a & b) | ((a | b) & ~sum)) >> 63;
}
inline std::uint64_t borrowOut(std::uint64_t a, std::uint64_t b, std::uint64_t diff) {
    return ((~a & b) | (~(a ^ b) & diff)) >> 63;
}

// Double-width (128-bit) values for the carry chains of the field arithmetic: the
// compiler's own type where it has one (straight add/adc and mul code), a pair of limbs
// otherwise (the 32-bit Windows build).
#if defined(__SIZEOF_INT128__)
using Wide = unsigned __int128;
inline Wide wideMul(std::uint64_t a, std::uint64_t b) { return static_cast<Wide>(a) * b; }
inline Wide wideOf(std::uint64_t a) { return a; }
inline Wide wideAdd(Wide a, std::uint64_t b) { return a + b; }
inline Wide wideSub(Wide a, std::uint64_t b) { return a - b; }
inline std::uint64_t wideLo(Wide a) { return static_cast<std::uint64_t>(a); }
inline std::uint64_t wideHi(Wide a) { return static_cast<std::uint64_t>(a >> 64); }
#else
struct Wide {
    std::uint64_t lo, hi;
};
inline Wide wideMul(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    // middle < 3 * 2^32: the three 32-bit pieces cannot overflow 64 bits
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return Wide{(middle << 32) | (p00 & 0xFFFFFFFFu), p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32)};
}
inline Wide wideOf(std::uint64_t a) { return Wide{a, 0}; }
inline Wide wideAdd(Wide a, std::uint64_t b) {
    const std::uint64_t lo = a.lo + b;
    return Wide{lo, a.hi + carryOut(a.lo, b, lo)};
}
inline Wide wideSub(Wide a, std::uint64_t b) {
    const std::uint64_t lo = a.lo - b;
    return Wide{lo, a.hi - borrowOut(a.lo, b, lo)};
}
inline std::uint64_t wideLo(Wide a) { return a.lo; }
inline std::uint64_t wideHi(Wide a) { return a.hi; }
#endif

inline void mulWide(std::uint64_t a, std::uint64_t b, std::uint64_t& lo, std::uint64_t& hi) {
    const Wide t = wideMul(a, b);
    lo = wideLo(t);
    hi = wideHi(t);
}

// a * b + acc + carry, low limb returned, high limb left in carry. Cannot overflow:
// (2^64 - 1)^2 + 2 * (2^64 - 1) = 2^128 - 1.
inline std::uint64_t mac(std::uint64_t a, std::uint64_t b, std::uint64_t acc, std::uint64_t& carry) {
    const Wide t = wideAdd(wideAdd(wideMul(a, b), acc), carry);
    carry = wideHi(t);
    return wideLo(t);
}

// a + b + carry (carry 0 or 1), the new carry left in carry.
inline std::uint64_t adc(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) {
    const Wide t = wideAdd(wideAdd(wideOf(a), b), carry);
    carry = wideHi(t);
    return wideLo(t);
}

// a - b - borrow (borrow 0 or 1), the new borrow left in borrow.
inline std::uint64_t sbb(std::uint64_t a, std::uint64_t b, std::uint64_t& borrow) {
    const Wide t = wideSub(wideSub(wideOf(a), b), borrow);
    borrow = wideHi(t) & 1;
    return wideLo(t);
}

#if defined(__GNUC__)
#define ORV_GOST_INLINE inline __attribute__((always_inline))
#define ORV_GOST_NOINLINE __attribute__((noinline))
#else
#define ORV_GOST_INLINE inline
#define ORV_GOST_NOINLINE
#endif

// Carry chains through the flags where the compiler offers them (plain adc and sbb): the
// 128-bit helpers above make GCC spill their halves to the stack once a whole point
// addition is inlined into one function.
#if defined(__x86_64__) && defined(__GNUC__)
using Carry = unsigned char;
ORV_GOST_INLINE std::uint64_t addc(std::uint64_t a, std::uint64_t b, Carry& c) {
    unsigned long long out;
    c = _addcarry_u64(c, a, b, &out);
    return out;
}
ORV_GOST_INLINE std::uint64_t subb(std::uint64_t a, std::uint64_t b, Carry& c) {
    unsigned long long out;
    c = _subborrow_u64(c, a, b, &out);
    return out;
}
#else
using Carry = std::uint64_t;
ORV_GOST_INLINE std::uint64_t addc(std::uint64_t a, std::uint64_t b, Carry& c) {
    const std::uint64_t out = a + b + c;
    c = carryOut(a, b, out);
    return out;
}
ORV_GOST_INLINE std::uint64_t subb(std::uint64_t a, std::uint64_t b, Carry& c) {
    const std::uint64_t out = a - b - c;
    c = borrowOut(a, b, out);
    return out;
}
#endif

// out = a + b over n limbs; returns the carry.
inline std::uint64_t addLimbs(std::uint64_t* out, const std::uint64_t* a, const std::uint64_t* b,
                              std::size_t n) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t ai = a[i], bi = b[i];
        const std::uint64_t s = ai + bi + carry;
        carry = carryOut(ai, bi, s);
        out[i] = s;
    }
    return carry;
}

// out = a - b over n limbs; returns the borrow.
inline std::uint64_t subLimbs(std::uint64_t* out, const std::uint64_t* a, const std::uint64_t* b,
                              std::size_t n) {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t ai = a[i], bi = b[i];
        const std::uint64_t d = ai - bi - borrow;
        borrow = borrowOut(ai, bi, d);
        out[i] = d;
    }
    return borrow;
}

inline bool isZeroLimbs(const std::uint64_t* a, std::size_t n) {
    std::uint64_t acc = 0;
    for (std::size_t i = 0; i < n; ++i)
        acc |= a[i];
    return acc == 0;
}

inline void copyLimbs(std::uint64_t* out, const std::uint64_t* a, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = a[i];
}

inline void zeroLimbs(std::uint64_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = 0;
}

// Conversions between the representations; n counts the narrower units.
inline void limbsFromBytes(std::uint64_t* out, const std::uint8_t* in, std::size_t nBytes) {
    for (std::size_t i = 0; i < nBytes / 8; ++i) {
        std::uint64_t v = 0;
        for (std::size_t j = 0; j < 8; ++j)
            v |= static_cast<std::uint64_t>(in[8 * i + j]) << (8 * j);
        out[i] = v;
    }
}

inline void wordsFromBytes(std::uint32_t* out, const std::uint8_t* in, std::size_t nBytes) {
    for (std::size_t i = 0; i < nBytes / 4; ++i)
        out[i] = static_cast<std::uint32_t>(in[4 * i]) | static_cast<std::uint32_t>(in[4 * i + 1]) << 8 |
                 static_cast<std::uint32_t>(in[4 * i + 2]) << 16 |
                 static_cast<std::uint32_t>(in[4 * i + 3]) << 24;
}

inline void bytesFromWords(std::uint8_t* out, const std::uint32_t* in, std::size_t nWords) {
    for (std::size_t i = 0; i < nWords; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            out[4 * i + j] = static_cast<std::uint8_t>(in[i] >> (8 * j));
}

inline void wordsFromLimbs(std::uint32_t* out, const std::uint64_t* in, std::size_t nLimbs) {
    for (std::size_t i = 0; i < nLimbs; ++i) {
        out[2 * i] = static_cast<std::uint32_t>(in[i]);
        out[2 * i + 1] = static_cast<std::uint32_t>(in[i] >> 32);
    }
}

inline void limbsFromWords(std::uint64_t* out, const std::uint32_t* in, std::size_t nLimbs) {
    for (std::size_t i = 0; i < nLimbs; ++i)
        out[i] = static_cast<std::uint64_t>(in[2 * i]) | static_cast<std::uint64_t>(in[2 * i + 1]) << 32;
}

}} // namespace orv::gost

namespace orv { namespace gost {

// Overwrites secrets so that the stores stay even where nothing reads the bytes again:
// behind a compiler barrier that claims to read them, else through volatile.
inline void wipeBytes(void* p, std::size_t n) {
#if defined(__GNUC__)
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile std::uint8_t* b = static_cast<volatile std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = 0;
#endif
}

}} // namespace orv::gost
