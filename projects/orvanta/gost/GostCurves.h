#pragma once
// The parameter sets: read-only records of RFC 4357 (and RFC 5832 for the test set).

#include <cstdint>

namespace orv { namespace gost {

// One value: 32 bytes little-endian, then the count of its significant bytes (1 for 0).
struct GostCurveValue {
    std::uint8_t bytes[32];
    std::uint32_t length;
};

// Curve y^2 = x^3 + a*x + b over GF(p); base point (x, y) of prime order q.
// b is kept for completeness: signing never needs it.
struct GostCurveParams {
    GostCurveValue a, b, p, q, x, y;
};

extern const GostCurveParams gostCurveT;  // id-GostR3410-2001-TestParamSet
extern const GostCurveParams gostCurveA;  // id-GostR3410-2001-CryptoPro-A-ParamSet
extern const GostCurveParams gostCurveB;  // id-GostR3410-2001-CryptoPro-B-ParamSet
extern const GostCurveParams gostCurveC;  // id-GostR3410-2001-CryptoPro-C-ParamSet

// The record of a letter 'T', 'A', 'B' or 'C'; null for anything else.
const GostCurveParams* gostCurveForLetter(char letter);

}} // namespace orv::gost
