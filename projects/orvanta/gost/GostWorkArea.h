#pragma once
// The engine's one static work area. Every signature clears it at its start and wipes
// everything that the key or the nonce touched before it returns, whatever the outcome;
// what stays behind is public: the selected set, its curve values and the table of
// doublings of its base point.

#include "GostWords.h"

namespace orv { namespace gost {

// Homogeneous projective point (X : Y : Z) = affine (X/Z, Y/Z).
struct GostPoint {
    Fe X, Y, Z;
};

// The successive doublings 2^i * P of the base point, i = 0..255, in affine form. They
// depend on the parameter set only, so the 256 doublings are done once per set and kept;
// each addition of the scalar multiplication then has Z = 1 on its Q side.
struct GostDoublings {
    char letter;  // set the table belongs to; 0 while there is none
    Fe x[256], y[256];
    Fe zs[256];       // Z of every 2^i * P while the table is built
    Fe zPrefix[256];  // Z_0 * ... * Z_i
};

struct GostWorkArea {
    // ---- cleared at the start of every signature ----
    // The selected curve: public, left in place at the end.
    Fe p;                    // field modulus
    Fe a;                    // curve coefficient
    std::uint32_t p32[kWords];  // p and q as 32-bit words for the long division
    std::uint32_t q32[kWords];
    std::uint64_t aIsMinus3; // all-ones when a = p - 3 (CryptoPro A, B, C): cheaper doubling
    GostPoint base;          // P, with Z = 1

    // The working values: wiped again at the end of every signature (gostWipeSecrets),
    // from Q up to the letter.
    GostPoint Q;             // 2^i * P while the doublings are computed
    GostPoint Qi;            // 2^i * P from the table (Z = 1)
    GostPoint R;             // the accumulator
    GostPoint addend;        // R, or P while R is unset
    GostPoint dummy;         // result slots of the discarded additions
    std::uint64_t rSet;      // all-ones once R holds a point
    std::uint64_t infinity;  // all-ones while R fell back to the point at infinity

    // point addition
    Fe u1, u2, v1, v2, u, v, w, uu, vv, vvv, vv2, bigA, t1, t2;
    // point doubling
    Fe dw, ds, dss, dsss, dR, dRR, dB, dh, dt1, dt2;
    // affine conversion
    Fe blind;  // random factor of the inversion
    Fe zb;     // Z * blind: what the binary gcd is given instead of Z
    Fe zInv;
    Fe zi;
    std::uint64_t wide[2 * kLimbs];  // full product before reduction

    // signature values modulo q (32-bit words)
    std::uint32_t e[kWords], k[kWords], r[kWords], s[kWords];
    std::uint32_t sum68[2 * kWords + 1];  // r*d + k*e
    std::uint32_t prod[2 * kWords];

    // ---- kept between signatures ----
    char letter;  // selected parameter set; decides the reduction modulo p
    GostDoublings doublings;
};

extern GostWorkArea gostWork;

// Clears what a signature clears at its start.
void gostClearWorkArea();

// Wipes the working values (everything from Q up to the letter): what a signature leaves
// of the nonce, the key's products, k * P and the inversion. The curve values, the letter
// and the table of doublings stay.
void gostWipeSecrets();

// Back to the state at load time (everything zero, letter 'A', no doublings table); for tests.
void gostResetWorkArea();

}} // namespace orv::gost
