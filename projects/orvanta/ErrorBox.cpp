#include "ErrorBox.h"

#include "PlatformUi.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace orv {

void showErrorBox(const char* text, const char* caption, std::uint32_t code) {
    // " 0x" + 8 digits + the terminator: 12 bytes beyond the text.
    const std::size_t size = std::strlen(text) + 12;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer)
        return;  // no memory, no box
    std::snprintf(buffer.get(), size, "%s 0x%08X", text, static_cast<unsigned>(code));
    showMessageBox(buffer.get(), caption);
}

} // namespace orv
