#include "api/HexCodec.h"

#include <utility>

namespace orv {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";
// The key alphabet of the page: position j stands for the hex digit of value j.
const char kKeyAlphabet[] = "KMBNPFRCUEHDJALX";

// The value of a hex digit; anything else counts as 0 (see hexToBytes).
unsigned digitValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

} // namespace

std::size_t hexToBytes(const char* text, unsigned char* out, std::size_t capacity) {
    if (text == nullptr)
        return 0;
    std::size_t count = 0;
    const char* p = text;
    while (*p != '\0') {
        if (*p == ' ') {
            ++p;
            continue;
        }
        unsigned value = digitValue(*p++);
        // A second digit right behind the first completes the pair; a blank or the end of
        // the text leaves the first digit as a byte of its own.
        if (*p != '\0' && *p != ' ')
            value = value * 16 + digitValue(*p++);
        if (out != nullptr && count < capacity)
            out[count] = static_cast<unsigned char>(value);
        ++count;
    }
    return count;
}

bool isHexByteText(const char* text, std::size_t bytes) {
    if (text == nullptr)
        return false;
    for (const char* p = text; *p != '\0'; ++p) {
        const bool digit = (*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') || (*p >= 'A' && *p <= 'F');
        if (!digit && *p != ' ')
            return false;
    }
    return hexToBytes(text, nullptr, 0) == bytes;
}

std::size_t bytesToHex(const unsigned char* bytes, std::size_t n, char* out) {
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = kHexDigits[bytes[i] >> 4];
        out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
    out[2 * n] = '\0';
    return 2 * n + 1;
}

void reverseBytes(unsigned char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n / 2; ++i)
        std::swap(bytes[i], bytes[n - 1 - i]);
}

void lettersToHex(char* text) {
    if (text == nullptr)
        return;
    for (char* p = text; *p != '\0'; ++p)
        for (std::size_t j = 0; j < 16; ++j)
            if (*p == kKeyAlphabet[j]) {
                *p = kHexDigits[j];
                break;
            }
}

} // namespace orv
