#pragma once
// The token services' error reporter: "<text> 0x<code as 8 upper-case hex digits>"
// in a modal box under a caption that names the failing call.

#include <cstdint>

namespace orv {

void showErrorBox(const char* text, const char* caption, std::uint32_t code);

} // namespace orv
