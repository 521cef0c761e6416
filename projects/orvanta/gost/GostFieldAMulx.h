#pragma once
// The field arithmetic of GostFieldA.h with the x86-64 instruction mulx (BMI2): the
// product leaves the flags alone, so the carry chains around it run straight. Same
// contracts and the same results as FieldA.
//
// Only for x86-64, and only to be entered after gostCpuHasMulxAdx() said yes: the
// multiplication carries its own target attribute, so the rest of the program is built
// for the plain architecture. A function that inlines it must carry the attribute too
// (ORV_GOST_MULX_TARGET).
#include "GostFieldA.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define ORV_GOST_HAVE_MULX 1
#include <immintrin.h>

#define ORV_GOST_MULX_TARGET __attribute__((target("bmi2,adx")))

namespace orv { namespace gost {

struct MulxMul {
    // Not always_inline: the compiler may inline it only into functions with the target.
    ORV_GOST_MULX_TARGET static inline std::uint64_t mulLoHi(std::uint64_t a, std::uint64_t b,
                                                             std::uint64_t& hi) {
        unsigned long long h;
        const std::uint64_t lo = _mulx_u64(a, b, &h);
        hi = h;
        return lo;
    }
};

using FieldAMulx = FieldAProducts<MulxMul>;

}} // namespace orv::gost
#endif
