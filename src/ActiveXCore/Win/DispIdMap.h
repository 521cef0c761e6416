#pragma once
// The process's one TypeIDMap from member names to DISPIDs, seeded with the platform's
// standard DISPIDs under their lower-case names. The seeded names are narrow strings while
// script names are looked up wide, so the seeds serve only the way back from a DISPID.

#include "TypeIDMap.h"

namespace FB {
namespace ActiveX {

using DispIdMap = TypeIDMap<long>;

DispIdMap& dispIdMap();

// How many standard pairs the map starts with.
size_t seededDispIdCount();

} // namespace ActiveX
} // namespace FB
