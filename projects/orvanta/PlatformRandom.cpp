#include "PlatformRandom.h"

#include <utility>

namespace orv {

namespace {
RandomSource& installedSource() {
    static RandomSource source;
    return source;
}
} // namespace

bool randomBytes(std::uint8_t* buffer, std::size_t size) {
    // The only caller (the signing engine) runs on the browser's main thread: no lock.
    if (installedSource())
        return installedSource()(buffer, size);
    return platformRandomBytes(buffer, size);
}

RandomSource setRandomSource(RandomSource source) {
    std::swap(installedSource(), source);
    return source;
}

} // namespace orv
