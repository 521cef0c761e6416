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
    // Everything in front of the letter. The area is a global the engine reads later,
    // so the compiler cannot drop the stores.
    std::memset(static_cast<void*>(&gostWork), 0, offsetof(GostWorkArea, letter));
}

void gostWipeSecrets() {
    static_assert(offsetof(GostWorkArea, base) < offsetof(GostWorkArea, Q) &&
                      offsetof(GostWorkArea, prod) < offsetof(GostWorkArea, letter),
                  "the working values lie between Q and the letter");
    unsigned char* const area = reinterpret_cast<unsigned char*>(&gostWork);
    wipeBytes(area + offsetof(GostWorkArea, Q), offsetof(GostWorkArea, letter) - offsetof(GostWorkArea, Q));
}

void gostResetWorkArea() {
    gostClearWorkArea();
    gostWork.letter = 'A';
    std::memset(static_cast<void*>(&gostWork.doublings), 0, sizeof gostWork.doublings);
}

}} // namespace orv::gost
