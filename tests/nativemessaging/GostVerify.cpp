// orv_gost_verify: checks a signature the page got with Botan's GOST R 34.10-2001
// (CryptoPro-A), for the browser test's harness, which is not C++.
//
//   orv_gost_verify public <public key hex: X then Y> <hash hex> <signature hex: r then s>
//   orv_gost_verify digits <private key as the page gives olvRepair, digits only> <hash> <signature>
//
// Exit status 0 when it verifies, 1 when not, 2 for bad usage. Byte orders are the page's:
// every number most significant byte first.

#include <botan/bigint.h>
#include <botan/ec_group.h>
#include <botan/gost_3410.h>
#include <botan/hex.h>
#include <botan/pubkey.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const Botan::EC_Group& cryptoProA() {
    static const Botan::EC_Group group("gost_256A");
    return group;
}

// Botan reads the message as a little-endian number and the signature as s then r.
bool verifies(const Botan::PointGFp& point, const std::string& hashText, const std::string& signatureText) {
    if (!point.on_the_curve())
        return false;
    const Botan::GOST_3410_PublicKey key(cryptoProA(), point);
    Botan::PK_Verifier verifier(key, "Raw");
    std::vector<std::uint8_t> message = Botan::hex_decode(hashText);
    std::reverse(message.begin(), message.end());
    const std::vector<std::uint8_t> rs = Botan::hex_decode(signatureText);
    if (rs.size() != 64 || message.size() != 32)
        return false;
    std::vector<std::uint8_t> sr(rs.begin() + 32, rs.end());
    sr.insert(sr.end(), rs.begin(), rs.begin() + 32);
    return verifier.verify_message(message, sr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s public|digits KEY HASH SIGNATURE\n", argv[0]);
        return 2;
    }
    try {
        const std::string mode = argv[1];
        Botan::PointGFp point;
        if (mode == "public") {
            const std::vector<std::uint8_t> xy = Botan::hex_decode(argv[2]);
            if (xy.size() != 64)
                return 1;
            point = cryptoProA().point(Botan::BigInt::decode(xy.data(), 32), Botan::BigInt::decode(xy.data() + 32, 32));
        } else if (mode == "digits") {
            // The page's key text: the first hex pair is the least significant byte.
            std::vector<std::uint8_t> le = Botan::hex_decode(argv[2]);
            std::reverse(le.begin(), le.end());
            point = cryptoProA().get_base_point() * Botan::BigInt::decode(le);
        } else {
            std::fprintf(stderr, "unknown mode %s\n", argv[1]);
            return 2;
        }
        return verifies(point, argv[3], argv[4]) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
