#include "GostWorkArea.h"

#include <cstddef>
#include <cstring>

namespace orv { namespace gost {

GostWorkArea gostWork = [] {
    GostWorkArea w{};
    w.letter = 'A';
    return w;
}();

void gostClearWorkArea() {
    // Everything in front of the letter; volatile so the compiler keeps the wipe.
    volatile unsigned char* bytes = reinterpret_cast<volatile unsigned char*>(&gostWork);
    for (std::size_t i = 0; i < offsetof(GostWorkArea, letter); ++i)
        bytes[i] = 0;
}

void gostResetWorkArea() {
    gostClearWorkArea();
    gostWork.letter = 'A';
    gostWork.doublings.letter = 0;
    for (std::size_t i = 0; i < 256; ++i)
        for (std::size_t j = 0; j < kLimbs; ++j)
            gostWork.doublings.x[i][j] = gostWork.doublings.y[i][j] = 0;
}

}} // namespace orv::gost
