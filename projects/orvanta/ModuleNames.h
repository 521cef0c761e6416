#pragma once
// The one place that maps a module's base name to its file name on this platform:
// "olpkcs11xsg" is olpkcs11xsg.dll on Windows and olpkcs11xsg.so on Linux.

#include <string>

namespace orv {

std::string moduleFileName(const std::string& baseName);

} // namespace orv
