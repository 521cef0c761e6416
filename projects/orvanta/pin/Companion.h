#pragma once
// Loading the companion modules (olvgui, olvcrypt). They ship beside the plug-in's own
// module, and that folder is the only place looked at: a load by bare name would go through
// the system's search, which takes a module of that name from the current folder (Windows)
// or from a library path (Linux), and a page can make the plug-in load olvcrypt at will.

#include "PlatformModule.h"

#include <string>

namespace orv {

// The companion's file (baseName plus this platform's suffix): the module of that name
// already in the process if there is one, else the file beside the plug-in's own module
// (beside the executable when no module of the plug-in's name is loaded). Takes a
// reference that freeModule gives back; null when neither is there.
ModuleHandle loadCompanion(const std::string& baseName);

// Where loadCompanion looks when the companion is not loaded yet.
std::string companionPath(const std::string& baseName);

} // namespace orv
