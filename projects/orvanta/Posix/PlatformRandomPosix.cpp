#include "PlatformRandom.h"

#include <sys/random.h>

#include <cerrno>

namespace orv {

// getrandom(2) from the urandom pool: it blocks only until the pool is first seeded and
// never returns weak bytes. Short reads (signals) are continued, other errors fail.
bool platformRandomBytes(std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = getrandom(buffer + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace orv
