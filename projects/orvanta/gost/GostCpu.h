#pragma once
// Which multiplication the CryptoPro-A scalar multiplication uses: the mulx/adx one
// (GostFieldAMulx.h) where the processor has both, the portable one otherwise.

namespace orv { namespace gost {

// True on an x86-64 processor with BMI2 and ADX (asked once, with cpuid), false elsewhere
// or while gostUsePortableField(true) is in force.
bool gostCpuHasMulxAdx();

// Forces the portable path (true) or gives the choice back to the processor (false); for
// tests that check both paths on one machine.
void gostUsePortableField(bool portableOnly);

}} // namespace orv::gost
