// GOST R 34.10-2001 signature generation: e = hash mod q (1 for 0), k from the platform's
// generator, r = x(k*P) mod q, s = (r*d + k*e) mod q; a new k when r or s is 0.
#include "GostSign.h"

#include "GostArith.h"
#include "GostCt.h"
#include "GostCurves.h"
#include "PlatformRandom.h"

namespace orv {

using namespace gost;

namespace {

// out (16 words) = a * b (8 words each), schoolbook.
void mulWords(std::uint32_t out[2 * kWords], const std::uint32_t a[kWords], const std::uint32_t b[kWords]) {
    for (std::size_t i = 0; i < 2 * kWords; ++i)
        out[i] = 0;
    for (std::size_t i = 0; i < kWords; ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < kWords; ++j) {
            // (2^32-1)^2 + 2*(2^32-1) < 2^64
            const std::uint64_t t = static_cast<std::uint64_t>(a[i]) * b[j] + out[i + j] + carry;
            out[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        out[i + kWords] = static_cast<std::uint32_t>(carry);
    }
}

bool isZeroWords(const std::uint32_t* a, std::size_t n) {
    std::uint32_t acc = 0;
    for (std::size_t i = 0; i < n; ++i)
        acc |= a[i];
    return acc == 0;
}

// A value of the record into a cleared slot, as many bytes as the record counts.
void loadValue(Fe out, const GostCurveValue& v) {
    std::uint8_t bytes[kBytes] = {};
    for (std::uint32_t i = 0; i < v.length && i < kBytes; ++i)
        bytes[i] = v.bytes[i];
    limbsFromBytes(out, bytes, kBytes);
}

void selectCurve(const GostCurveParams& c) {
    GostWorkArea& w = gostWork;
    loadValue(w.a, c.a);
    limbsFromBytes(w.p, c.p.bytes, kBytes);
    wordsFromBytes(w.p32, c.p.bytes, kBytes);
    Fe aPlus3;
    const Fe three = {3, 0, 0, 0};
    addLimbs(aPlus3, w.a, three, kLimbs);
    w.aIsMinus3 = isZeroLimbs(aPlus3, kLimbs) ? 0 : ctEqual(aPlus3, w.p, kLimbs);
    loadValue(w.base.X, c.x);
    loadValue(w.base.Y, c.y);
    w.base.Z[0] = 1;
}

// One attempt with a fresh nonce; `retry` set when r or s came out 0.
std::uint8_t signOnce(const std::uint8_t* key, std::uint8_t* signature, bool& retry) {
    GostWorkArea& w = gostWork;
    retry = false;
    std::uint8_t nonce[kBytes];
    std::uint32_t nonceWords[kWords];
    if (!randomBytes(nonce, kBytes)) {
        wipeBytes(nonce, sizeof nonce);  // may hold part of a draw
        return 2;
    }
    wordsFromBytes(nonceWords, nonce, kBytes);
    bnMod(w.k, nonceWords, kWords, w.q32, kWords);
    wipeBytes(nonceWords, sizeof nonceWords);

    w.Q = w.base;
    std::uint8_t status = gostScalarMul(w.k);
    if (status == 0)
        status = gostToAffine();
    if (status != 0) {
        wipeBytes(nonce, sizeof nonce);
        return status;
    }

    std::uint32_t x[kWords];
    wordsFromLimbs(x, w.R.X, kLimbs);
    bnMod(w.r, x, kWords, w.q32, kWords);
    if (isZeroWords(w.r, kWords)) {
        wipeBytes(nonce, sizeof nonce);
        retry = true;
        return 0;
    }

    // s = (r*d + k*e) mod q, with d as given (not reduced first).
    std::uint32_t d[kWords];
    wordsFromBytes(d, key, kBytes);
    mulWords(w.prod, w.r, d);
    for (std::size_t i = 0; i < 2 * kWords; ++i)
        w.sum68[i] = w.prod[i];
    w.sum68[2 * kWords] = 0;
    mulWords(w.prod, w.k, w.e);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < 2 * kWords; ++i) {
        const std::uint64_t t = static_cast<std::uint64_t>(w.sum68[i]) + w.prod[i] + carry;
        w.sum68[i] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
    }
    w.sum68[2 * kWords] = static_cast<std::uint32_t>(carry);
    bnMod(w.s, w.sum68, 2 * kWords + 1, w.q32, kWords);
    wipeBytes(d, sizeof d);
    wipeBytes(nonce, sizeof nonce);
    if (isZeroWords(w.s, kWords)) {
        retry = true;
        return 0;
    }

    bytesFromWords(signature, w.r, kWords);
    bytesFromWords(signature + kBytes, w.s, kWords);
    return 0;
}

} // namespace

std::uint8_t gostSign(const std::uint8_t* key, std::uint32_t keyLen,
                      const std::uint8_t* hash, std::uint32_t hashLen,
                      std::uint8_t* signature, std::uint32_t* signatureLen,
                      const std::uint8_t* oid, std::uint32_t oidLen) {
    const char letter = gostParamSetFromOid(oid, oidLen);
    if (letter == 0)
        return 3;
    if (keyLen != kBytes)
        return 2;
    if (signatureLen == nullptr)
        return 1;
    if (hashLen != kBytes)
        return 2;
    if (signature == nullptr) {
        *signatureLen = kGostSignatureSize;
        return 0;
    }
    if (*signatureLen < kGostSignatureSize)
        return 1;
    if (key == nullptr || hash == nullptr)
        return 2;  // nothing to sign with: the class of a key or hash of the wrong size

    GostWorkArea& w = gostWork;
    w.letter = letter;
    gostClearWorkArea();
    // Whatever the way out, nothing of the nonce or the key stays in the static area for
    // the next reader of this process's memory to find.
    struct WipeOnExit {
        ~WipeOnExit() { gostWipeSecrets(); }
    } wipeOnExit;
    const GostCurveParams& curve = *gostCurveForLetter(letter);
    wordsFromBytes(w.q32, curve.q.bytes, kBytes);

    std::uint32_t h[kWords];
    wordsFromBytes(h, hash, kBytes);
    bnMod(w.e, h, kWords, w.q32, kWords);
    if (isZeroWords(w.e, kWords))
        w.e[0] = 1;

    selectCurve(curve);

    // A failure leaves the caller's buffer untouched: the signature is written only
    // after both halves are known.
    for (;;) {
        bool retry = false;
        const std::uint8_t status = signOnce(key, signature, retry);
        if (status != 0 || !retry)
            return status;
    }
}

} // namespace orv
