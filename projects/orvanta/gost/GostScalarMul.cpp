// k*P, right to left over all 256 bits (GostScalarLoop.h), with the field arithmetic the
// selected set and the processor allow: the lazy CryptoPro-A arithmetic (with mulx/adx
// where present) for the letter A, the reduced generic arithmetic for the others.
#include "GostArith.h"
#include "GostCpu.h"
#include "GostFieldAMulx.h"
#include "GostScalarLoop.h"

namespace orv { namespace gost {

namespace {

#if defined(ORV_GOST_HAVE_MULX)
std::uint8_t scalarMulA_Mulx(const std::uint32_t k[kWords]) { return scalarMulLoop<FieldAMulx>(k); }
#endif

std::uint8_t scalarMulA(const std::uint32_t k[kWords]) { return scalarMulLoop<FieldA>(k); }

std::uint8_t scalarMulGeneric(const std::uint32_t k[kWords]) { return scalarMulLoop<FieldGeneric>(k); }

} // namespace

std::uint8_t gostScalarMul(const std::uint32_t k[kWords]) {
    const std::uint8_t built = gostBuildDoublings();
    if (built != 0)
        return built;
    if (gostWork.letter != 'A')
        return scalarMulGeneric(k);
#if defined(ORV_GOST_HAVE_MULX)
    if (gostCpuHasMulxAdx())
        return scalarMulA_Mulx(k);
#endif
    return scalarMulA(k);
}

}} // namespace orv::gost
