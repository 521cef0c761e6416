// R + Q for a Q with Z = 1, every step reduced: the addition of the scalar multiplication
// (GostScalarLoop.h) over the generic field arithmetic.
#include "GostScalarLoop.h"

namespace orv { namespace gost {

std::uint8_t gostPointAddAffine(GostPoint& out, const GostPoint& r, const GostPoint& q) {
    return addMixed<FieldGeneric>(out, r, q);
}

}} // namespace orv::gost
