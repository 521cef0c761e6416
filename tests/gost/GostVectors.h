#pragma once
// Shared inputs of the GOST tests: the parameter-set OIDs, RFC 5832's example and a
// repeatable source of pseudo-random operands.

#include <cstdint>
#include <vector>

namespace orv { namespace test {

inline std::vector<std::uint8_t> oidFor(std::uint8_t arc, std::uint8_t last) {
    return {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, arc, last};
}
inline std::vector<std::uint8_t> oidTest() { return oidFor(0x23, 0); }
inline std::vector<std::uint8_t> oidA() { return oidFor(0x23, 1); }
inline std::vector<std::uint8_t> oidB() { return oidFor(0x23, 2); }
inline std::vector<std::uint8_t> oidC() { return oidFor(0x23, 3); }

// RFC 5832, section 7 (test parameter set), big-endian hex as printed there.
constexpr const char* kRfcKey = "7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28";
constexpr const char* kRfcHash = "2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5";
constexpr const char* kRfcNonce = "77105C9B20BCD3122823C8CF6FCC7B956DE33814E95B7FE64FED924594DCEAB3";
constexpr const char* kRfcR = "41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493";
constexpr const char* kRfcS = "01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40";

// Orders of the base points.
constexpr const char* kQTest = "8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3";
constexpr const char* kQA = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893";
constexpr const char* kQB = "800000000000000000000000000000015F700CFFF1A624E5E497161BCC8A198F";
constexpr const char* kQC = "9B9F605F5A858107AB1EC85E6B41C8AA582CA3511EDDFB74F02F3A6598980BB9";

// xorshift64: the same operands in every run, so a failure can be replayed.
inline std::uint64_t nextRandom(std::uint64_t& s) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

}} // namespace orv::test
