// Remainder by normalised long division on 32-bit words (Knuth, Algorithm D).
// The number of steps depends only on the operand sizes and the modulus, the quotient
// digits are estimated without a division instruction and their corrections are masked,
// so a secret dividend takes the same path, in the same time, every time.
#include "GostArith.h"
#include "GostCt.h"
#include "GostDivide.h"

namespace orv { namespace gost {

namespace {
constexpr std::size_t kMaxValueWords = 2 * kWords + 2;
constexpr std::size_t kMaxModWords = kWords + 1;
} // namespace

std::uint8_t bnMod(std::uint32_t* rem, const std::uint32_t* value, std::size_t valueWords,
                   const std::uint32_t* modulus, std::size_t modWords) {
    std::size_t n = modWords;  // significant words of the modulus
    while (n > 0 && modulus[n - 1] == 0)
        --n;
    if (n == 0)
        return 15;
    if (valueWords > kMaxValueWords || modWords > kMaxModWords)
        return 15;  // outside the sizes the engine uses; never reached from gostSign

    if (valueWords < n) {  // value < 2^(32(n-1)) <= modulus
        for (std::size_t i = 0; i < modWords; ++i)
            rem[i] = i < valueWords ? value[i] : 0;
        return 0;
    }

    // Normalise: shift both so that the divisor's top word has its top bit set; the
    // quotient digit estimate is then at most 2 too large.
    const unsigned shift = static_cast<unsigned>(__builtin_clz(modulus[n - 1]));
    std::uint32_t vn[kMaxModWords];
    std::uint32_t un[kMaxValueWords + 1];
    for (std::size_t i = n; i-- > 0;) {
        const std::uint64_t pair = static_cast<std::uint64_t>(modulus[i]) << 32 | (i > 0 ? modulus[i - 1] : 0);
        vn[i] = static_cast<std::uint32_t>((pair << shift) >> 32);
    }
    un[valueWords] = static_cast<std::uint32_t>((static_cast<std::uint64_t>(value[valueWords - 1]) << shift) >> 32);
    for (std::size_t i = valueWords; i-- > 0;) {
        const std::uint64_t pair = static_cast<std::uint64_t>(value[i]) << 32 | (i > 0 ? value[i - 1] : 0);
        un[i] = static_cast<std::uint32_t>((pair << shift) >> 32);
    }

    // A one-word divisor has no second word to correct with: the estimate is then exact.
    const std::uint32_t vTop = vn[n - 1];
    const std::uint32_t reciprocal = gostReciprocal(vTop);
    const std::uint64_t vNext = n > 1 ? vn[n - 2] : 0;
    for (std::size_t j = valueWords - n + 1; j-- > 0;) {
        // Estimate from the top two words, then correct with the third (at most twice).
        // un[j+n] <= vTop; when equal, the estimate is 2^32 - 1 (the quotient digit's
        // largest value), otherwise the two words divided by vTop, below 2^32 either way.
        const std::uint64_t num = static_cast<std::uint64_t>(un[j + n]) << 32 | un[j + n - 1];
        const std::uint64_t third = j + n >= 2 ? un[j + n - 2] : 0;
        const std::uint64_t topEqual = ctIsZero(un[j + n] ^ vTop);
        std::uint32_t unused;
        const std::uint32_t top = un[j + n] & ~static_cast<std::uint32_t>(topEqual);  // below vTop
        const std::uint64_t estimate = gostDivideWord(top, un[j + n - 1], vTop, reciprocal, unused);
        std::uint64_t qhat = ctMux(topEqual, 0xFFFFFFFFu, estimate);
        std::uint64_t rhat = num - qhat * vTop;  // below 2^33
        for (int round = 0; round < 2; ++round) {
            const std::uint64_t rhatSmall = ctIsZero(rhat >> 32);
            const std::uint64_t over = ctMask(ctLt((rhat << 32) | third, qhat * vNext));
            const std::uint64_t dec = over & rhatSmall;
            qhat -= dec & 1;
            rhat += dec & vTop;
        }
        // un[j..j+n] -= qhat * vn; qhat < 2^32 now.
        std::uint64_t carry = 0, borrow = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t p = qhat * vn[i] + carry;
            carry = p >> 32;
            const std::uint64_t d = static_cast<std::uint64_t>(un[i + j]) - (p & 0xFFFFFFFFu) - borrow;
            un[i + j] = static_cast<std::uint32_t>(d);
            borrow = d >> 63;
        }
        const std::uint64_t d = static_cast<std::uint64_t>(un[j + n]) - carry - borrow;
        un[j + n] = static_cast<std::uint32_t>(d);
        // Still one too large (probability about 2^-31): add the divisor back, masked.
        const std::uint32_t back = static_cast<std::uint32_t>(ctMask(d >> 63));
        std::uint64_t c = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t s = static_cast<std::uint64_t>(un[i + j]) + (vn[i] & back) + c;
            un[i + j] = static_cast<std::uint32_t>(s);
            c = s >> 32;
        }
        un[j + n] += static_cast<std::uint32_t>(c);
    }

    // Undo the normalisation of the remainder (the low n words).
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t pair = static_cast<std::uint64_t>(un[i + 1]) << 32 | un[i];
        rem[i] = static_cast<std::uint32_t>(pair >> shift);
    }
    for (std::size_t i = n; i < modWords; ++i)
        rem[i] = 0;
    // The working copy held the dividend (a nonce, a product with the key).
    wipeBytes(un, sizeof un);
    return 0;
}

}} // namespace orv::gost
