#include "GostCpu.h"

#include "GostFieldAMulx.h"

#if defined(ORV_GOST_HAVE_MULX)
#include <cpuid.h>
#endif

namespace orv { namespace gost {

namespace {

bool detect() {
#if defined(ORV_GOST_HAVE_MULX)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const unsigned bmi2 = 1u << 8, adx = 1u << 19;  // leaf 7, EBX
    return (ebx & bmi2) && (ebx & adx);
#else
    return false;
#endif
}

bool portableOnly = false;

} // namespace

bool gostCpuHasMulxAdx() {
    static const bool present = detect();
    return present && !portableOnly;
}

void gostUsePortableField(bool only) { portableOnly = only; }

}} // namespace orv::gost
