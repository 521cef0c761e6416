#pragma once
// The arithmetic under gostSign. Field routines work modulo the work area's p, with the
// reduction the selected letter chooses; inputs and outputs are below p unless a contract
// says otherwise. Routines with a status return 0 or a GostStatus code.

#include "GostWorkArea.h"

namespace orv { namespace gost {

// ---- field modulo p ----
// out = a * b mod p. Operands below 2^256; result below p.
void gostModMul(Fe out, const Fe a, const Fe b);
// out = a^2 mod p. Operand below 2^256; result below p.
void gostModSqr(Fe out, const Fe a);
// out = a * word mod p for the small constants 2, 3, 4, 8. Operand below 2^256; result below p.
void gostModMulWord(Fe out, const Fe a, std::uint32_t word);
// out = b - a mod p. Operands below p; result below p.
void gostModSub(Fe out, const Fe b, const Fe a);
// out = wide mod p, wide a 512-bit product; gostReduceA for the letter A, bnMod otherwise.
void gostReduce(Fe out, const std::uint64_t wide[2 * kLimbs]);
// gostReduceA (GostReduceA.h): out = wide mod (2^256 - 617). Any 512-bit input; result
// below p. Constant time.
// wide = a * b, the full 512-bit schoolbook product.
void gostMulWide(std::uint64_t wide[2 * kLimbs], const Fe a, const Fe b);

// ---- long division ----
// rem (modWords words) = value mod modulus. Status 15 for a zero modulus.
std::uint8_t bnMod(std::uint32_t* rem, const std::uint32_t* value, std::size_t valueWords,
                   const std::uint32_t* modulus, std::size_t modWords);

// ---- inversion ----
// Working width of the binary gcd: the 32-byte operand plus four spare bytes.
constexpr std::size_t kXgcdBits = 288;
constexpr std::size_t kXgcdLimbs = 5;  // the top limb uses its low 32 bits only
using XgcdValue = std::uint64_t[kXgcdLimbs];

// Sign-magnitude value of the binary gcd; sign 1 is non-negative, 0 negative.
struct GostSigned {
    XgcdValue mag;
    std::uint8_t sign;
};

struct GostXgcdResult {
    XgcdValue gcd;
    GostSigned cx;  // coefficient of x
    GostSigned cy;  // coefficient of y
};

// Binary extended Euclid: cx*x + cy*y = gcd. x and y below 2^288 and not both zero.
// Status 2 when v reaches 0. Carries out of the working width are reported to the log.
std::uint8_t gostBinaryXgcd(const XgcdValue x, const XgcdValue y, GostXgcdResult& out);
// The same on sign-magnitude values throughout; gostBinaryXgcd hands over to it whenever
// its two's-complement shortcut could differ (see GostBinaryXgcd.cpp).
std::uint8_t gostBinaryXgcdSignMagnitude(const XgcdValue x, const XgcdValue y, GostXgcdResult& out);
// out = a^-1 mod m. Status 17 (out zeroed) for a or m zero or gcd != 1.
std::uint8_t gostModInverse(Fe out, const Fe a, const Fe m);

// ---- curve ----
// out = r + q. Status 2 when the sum is the point at infinity. out may be r, never q.
std::uint8_t gostPointAdd(GostPoint& out, const GostPoint& r, const GostPoint& q);
// out = r + q for q with Z = 1 (its Z is not read): the same sum with three
// multiplications fewer. out may be r, never q.
std::uint8_t gostPointAddAffine(GostPoint& out, const GostPoint& r, const GostPoint& q);
// out = 2 * in. Status 2 when Y is 0. out may be in.
std::uint8_t gostPointDouble(GostPoint& out, const GostPoint& in);
// Fills the work area's table of 2^i * P (256 doublings of Q from P, then one batch
// conversion to affine) unless it already holds the selected set's. Status of a failed
// doubling or inversion.
std::uint8_t gostBuildDoublings();
// R = k * base: one addition of 2^i * P per bit i >= 1 (kept or dropped), over all 256
// bits. Status 2 when R ends at the point at infinity.
std::uint8_t gostScalarMul(const std::uint32_t k[kWords]);
// R's X and Y become affine x and y, its Z is cleared. Z is inverted blinded by a random
// factor. Status 2 when the platform's generator fails, 17 when Z has no inverse.
std::uint8_t gostToAffine();

}} // namespace orv::gost
