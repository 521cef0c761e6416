// Verifies a GOST R 34.10-2001 signature taken from a page with Botan, an implementation
// independent of the plug-in's own:
//
//   gost_verify [public] PUBLIC_KEY_HEX HASH_HEX SIGNATURE_HEX
//   gost_verify --page-key|digits PAGE_KEY HASH_HEX SIGNATURE_HEX   (the key "olvRepair" signs with)
//
// The public key is X then Y (32 bytes each), the signature r then s, the hash as the page
// writes it (32 bytes). Exit status 0 when the signature verifies, 1 when not, 2 on bad
// input. The browser tests' harnesses (QtWebKit, Chromium) and the demonstration share it.

#include <botan/ec_group.h>
#include <botan/gost_3410.h>
#include <botan/hex.h>
#include <botan/pubkey.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

const Botan::EC_Group& cryptoProA() {
    static const Botan::EC_Group group("gost_256A");
    return group;
}

// The page's private key text: least significant byte first, each nibble a digit or one of
// the letters below.
Botan::BigInt pageKey(const std::string& text) {
    static const char letters[] = "KMBNPFRCUEHDJALX";
    if (text.size() != 64)
        throw std::invalid_argument("a page key has 64 characters");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int nibble[2];
        for (int k = 0; k < 2; ++k) {
            const char c = text[i + k];
            const char* at = std::strchr(letters, c);
            if (c >= '0' && c <= '9')
                nibble[k] = c - '0';
            else if (c && at)
                nibble[k] = static_cast<int>(at - letters);
            else
                throw std::invalid_argument("not a page key character");
        }
        bytes.push_back(static_cast<std::uint8_t>(nibble[0] << 4 | nibble[1]));
    }
    std::reverse(bytes.begin(), bytes.end());
    return Botan::BigInt::decode(bytes);
}

bool verifies(const Botan::PointGFp& point, const std::string& hashText, const std::string& signatureText) {
    if (!point.on_the_curve())
        return false;
    const Botan::GOST_3410_PublicKey key(cryptoProA(), point);
    Botan::PK_Verifier verifier(key, "Raw");
    // Botan reads the message as a little-endian number and the signature as s then r.
    auto message = Botan::hex_decode(hashText);
    std::reverse(message.begin(), message.end());
    const auto rs = Botan::hex_decode(signatureText);
    if (rs.size() != 64 || message.size() != 32)
        return false;
    std::vector<std::uint8_t> sr(rs.begin() + 32, rs.end());
    sr.insert(sr.end(), rs.begin(), rs.begin() + 32);
    return verifier.verify_message(message, sr);
}

} // namespace

int main(int argc, char** argv) {
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 4 && args[0] == "public")
            args.erase(args.begin());
        Botan::PointGFp point;
        if (args.size() == 4 && (args[0] == "--page-key" || args[0] == "digits")) {
            point = cryptoProA().get_base_point() * pageKey(args[1]);
            args.erase(args.begin(), args.begin() + 2);
        } else if (args.size() == 3) {
            const auto bytes = Botan::hex_decode(args[0]);
            if (bytes.size() != 64)
                throw std::invalid_argument("a public key has 64 bytes");
            point = cryptoProA().point(Botan::BigInt::decode(bytes.data(), 32),
                                       Botan::BigInt::decode(bytes.data() + 32, 32));
            args.erase(args.begin());
        } else {
            std::cerr << "usage: gost_verify [public] PUBLIC_KEY|--page-key KEY HASH SIGNATURE\n";
            return 2;
        }
        const bool ok = verifies(point, args[0], args[1]);
        std::cout << (ok ? "verified" : "NOT verified") << std::endl;
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "gost_verify: " << e.what() << std::endl;
        return 2;
    }
}
