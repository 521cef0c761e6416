#pragma once
// Byte strings cross the script boundary as hex text. These are the conversions the
// scripting object uses between the page's texts and the token's bytes.

#include <cstddef>

namespace orv {

// Reads hex text into bytes. Blanks (0x20) are skipped; two digits in a row make one byte,
// and a digit followed by a blank or by the end of the text makes a byte on its own (as if
// preceded by "0"). A character that is neither a hex digit nor a blank takes the place of
// a digit with the value 0, so it never shifts the bytes after it.
// Returns the number of bytes the text makes; at most `capacity` of them are written to
// `out`, and a null `out` only counts.
std::size_t hexToBytes(const char* text, unsigned char* out, std::size_t capacity);

// True when the text is made only of hex digits and blanks and makes exactly `bytes` bytes.
// The scripting object signs only such texts: anything else would sign a value the page
// never wrote.
bool isHexByteText(const char* text, std::size_t bytes);

// Each byte as two upper-case hex digits, then a terminating zero: `out` needs 2n + 1
// characters. Returns 2n + 1.
std::size_t bytesToHex(const unsigned char* bytes, std::size_t n, char* out);

// Reverses n bytes in place.
void reverseBytes(unsigned char* bytes, std::size_t n);

// Rewrites a private-key text in place from the page's substitution alphabet
// "KMBNPFRCUEHDJALX" to hex digits (the letter at position j becomes the digit of value j);
// every other character stays as it is.
void lettersToHex(char* text);

} // namespace orv
