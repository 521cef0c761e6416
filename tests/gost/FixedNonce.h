#pragma once
// Replaces the platform's random source for its lifetime: hands out the queued 32-byte
// nonces in order, or fails every draw. A draw past the end of the queue fails the test
// and the draw (so a signing loop cannot spin).

#include "PlatformRandom.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>

namespace orv { namespace test {

using Bytes32 = std::array<std::uint8_t, 32>;

// A 64-digit big-endian hex number as the engine's 32 little-endian bytes.
Bytes32 leFromHex(const std::string& hex);
std::string hexFromLe(const std::uint8_t* le, std::size_t n = 32);

class FixedNonce {
public:
    explicit FixedNonce(std::deque<Bytes32> nonces);
    ~FixedNonce();
    FixedNonce(const FixedNonce&) = delete;
    FixedNonce& operator=(const FixedNonce&) = delete;

    static FixedNonce failing();
    int draws() const { return draws_; }

private:
    FixedNonce(bool fail);
    bool draw(std::uint8_t* buffer, std::size_t size);

    std::deque<Bytes32> nonces_;
    bool fail_ = false;
    int draws_ = 0;
    RandomSource previous_;
};

}} // namespace orv::test

namespace orv { namespace test {

// Signs RFC 5832's example on CryptoPro-A with its fixed nonce, which leaves the engine's
// work area loaded with that set (the status of the signature; 0 is success).
int signRfcExampleOnSetA();

} } // namespace orv::test
