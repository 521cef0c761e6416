#include "FixedNonce.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orv { namespace test {

Bytes32 leFromHex(const std::string& hex) {
    Bytes32 out{};
    EXPECT_EQ(hex.size(), 64u) << hex;
    for (std::size_t i = 0; i < 32 && 2 * i + 1 < hex.size(); ++i)
        out[31 - i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return out;
}

std::string hexFromLe(const std::uint8_t* le, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = n; i-- > 0;) {
        out += digits[le[i] >> 4];
        out += digits[le[i] & 15];
    }
    return out;
}

FixedNonce::FixedNonce(std::deque<Bytes32> nonces) : nonces_(std::move(nonces)) {
    previous_ = setRandomSource([this](std::uint8_t* b, std::size_t n) { return draw(b, n); });
}

FixedNonce::FixedNonce(bool fail) : fail_(fail) {
    previous_ = setRandomSource([this](std::uint8_t* b, std::size_t n) { return draw(b, n); });
}

FixedNonce FixedNonce::failing() { return FixedNonce(true); }

FixedNonce::~FixedNonce() { setRandomSource(previous_); }

bool FixedNonce::draw(std::uint8_t* buffer, std::size_t size) {
    ++draws_;
    if (fail_)
        return false;
    EXPECT_EQ(size, 32u);
    if (nonces_.empty()) {
        ADD_FAILURE() << "the engine drew more nonces than the test queued";
        return false;
    }
    std::memcpy(buffer, nonces_.front().data(), size < 32 ? size : 32);
    nonces_.pop_front();
    return true;
}

}} // namespace orv::test

#include "GostVectors.h"
#include "gost/GostSign.h"

namespace orv { namespace test {

int signRfcExampleOnSetA() {
    FixedNonce nonce({leFromHex(kRfcNonce)});
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash);
    std::uint8_t sig[64];
    std::uint32_t capacity = 64;
    const auto oid = oidA();
    return orv::gostSign(key.data(), 32, hash.data(), 32, sig, &capacity, oid.data(), 9);
}

} } // namespace orv::test
