// Signatures per second on CryptoPro-A: this engine, Botan 2 and the OpenSSL GOST engine,
// measured in rounds that alternate between the three so that load from other processes
// hits all of them alike; the best round of each counts.
//
// Usage: gost_bench [rounds] [signatures per round] [portable]
// "portable" keeps the engine off the mulx/adx multiplication even where the processor has it.

#include "gost/GostCpu.h"
#include "gost/GostSign.h"

#include <botan/auto_rng.h>
#include <botan/gost_3410.h>
#include <botan/pubkey.h>

#define OPENSSL_SUPPRESS_DEPRECATED  // the GOST engine is reached through the ENGINE API
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::uint8_t kKey[32] = {0x28, 0x3B, 0xEC, 0x91, 0x98, 0xCE, 0x19, 0x1D, 0xEE, 0x7E, 0x39,
                               0x49, 0x1F, 0x96, 0x60, 0x1B, 0xC1, 0x72, 0x9A, 0xD3, 0x9D, 0x35,
                               0xED, 0x10, 0xBE, 0xB9, 0x9B, 0x78, 0xDE, 0x9A, 0x92, 0x7A};
const std::uint8_t kHash[32] = {0xE5, 0x3E, 0x04, 0x2B, 0x67, 0xE6, 0xEC, 0x67, 0x8E, 0x2E, 0x02,
                                0xB1, 0x2A, 0x03, 0x52, 0xCE, 0x1F, 0xC6, 0xEE, 0xE0, 0x52, 0x9C,
                                0xC0, 0x88, 0x11, 0x9A, 0xD8, 0x72, 0xB3, 0xC1, 0xFB, 0x2D};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "gost_bench: %s\n", what.c_str());
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

struct Signer {
    const char* name;
    std::function<void()> signOnce;
    double bestSeconds = 1e30;  // per signature
};

// The OpenSSL GOST engine, loaded by id ("gost") and used through EVP_PKEY_sign.
struct OpensslGost {
    ENGINE* engine = nullptr;
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* ctx = nullptr;

    OpensslGost() {
        ENGINE_load_builtin_engines();
        engine = ENGINE_by_id("gost");
        if (!engine || !ENGINE_init(engine))
            fail("cannot load the OpenSSL GOST engine (libengine-gost-openssl)");
        // Its key types must be known to EVP (key objects are typed through the defaults).
        if (!ENGINE_set_default(engine, ENGINE_METHOD_ALL))
            fail("cannot make the GOST engine the default");
        EVP_PKEY_CTX* gen = EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, engine);
        if (!gen || EVP_PKEY_keygen_init(gen) <= 0 || EVP_PKEY_CTX_ctrl_str(gen, "paramset", "A") <= 0 ||
            EVP_PKEY_keygen(gen, &key) <= 0)
            fail("GOST key generation failed");
        EVP_PKEY_CTX_free(gen);
        ctx = EVP_PKEY_CTX_new(key, engine);
        if (!ctx || EVP_PKEY_sign_init(ctx) <= 0)
            fail("GOST sign init failed");
    }
    ~OpensslGost() {
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(key);
        ENGINE_finish(engine);
        ENGINE_free(engine);
    }
    void sign() {
        unsigned char sig[64];
        size_t len = sizeof sig;
        if (EVP_PKEY_sign(ctx, sig, &len, kHash, sizeof kHash) <= 0)
            fail("EVP_PKEY_sign failed");
    }
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int perRound = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    if (argc > 3 && std::string(argv[3]) == "portable")
        orv::gost::gostUsePortableField(true);

    Botan::AutoSeeded_RNG rng;
    const Botan::EC_Group group("gost_256A");
    const Botan::GOST_3410_PrivateKey botanKey(rng, group);
    Botan::PK_Signer botanSigner(botanKey, rng, "Raw");
    const std::vector<std::uint8_t> hash(kHash, kHash + 32);

    OpensslGost openssl;

    std::vector<Signer> signers = {
        {"orvanta", [] {
             std::uint8_t sig[64];
             std::uint32_t len = sizeof sig;
             if (orv::olcSignHash(kKey, 32, nullptr, kHash, 32, sig, &len) != 0)
                 fail("olcSignHash failed");
         }},
        {"botan", [&] { botanSigner.sign_message(hash, rng); }},
        {"openssl-gost", [&] { openssl.sign(); }},
    };

    for (Signer& s : signers)  // warm-up
        for (int i = 0; i < perRound / 10 + 1; ++i)
            s.signOnce();
    for (int round = 0; round < rounds; ++round)
        for (Signer& s : signers) {
            const auto start = Clock::now();
            for (int i = 0; i < perRound; ++i)
                s.signOnce();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count() / perRound;
            s.bestSeconds = std::min(s.bestSeconds, seconds);
        }

    std::printf("GOST R 34.10-2001 CryptoPro-A, best of %d rounds x %d signatures\n", rounds, perRound);
    std::printf("orvanta field arithmetic: %s\n", orv::gost::gostCpuHasMulxAdx() ? "mulx/adx" : "portable");
    for (const Signer& s : signers)
        std::printf("%-13s %9.1f us/signature %10.0f signatures/s\n", s.name, s.bestSeconds * 1e6,
                    1.0 / s.bestSeconds);
    std::printf("ratio vs botan: %.2f\n", signers[1].bestSeconds / signers[0].bestSeconds);
    std::printf("ratio vs openssl-gost: %.2f\n", signers[2].bestSeconds / signers[0].bestSeconds);
    return 0;
}
