#pragma once
// The random-bytes seam: the signing nonce comes from the operating system's
// cryptographically strong generator. Tests install a source that hands out fixed bytes
// (published test vectors) or fails.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orv {

// Fills buffer with size bytes; false when the generator could not be used.
using RandomSource = std::function<bool(std::uint8_t* buffer, std::size_t size)>;

// Draws through the installed source, or the platform's generator when none is installed.
bool randomBytes(std::uint8_t* buffer, std::size_t size);

// Installs a source in place of the platform's; an empty one restores the platform's.
// Returns the previous source.
RandomSource setRandomSource(RandomSource source);

// The platform's own generator; implemented once per platform folder.
bool platformRandomBytes(std::uint8_t* buffer, std::size_t size);

} // namespace orv
