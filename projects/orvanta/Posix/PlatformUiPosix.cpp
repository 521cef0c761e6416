#include "PlatformUi.h"

#include <cstdio>

namespace orv {

// Interim: the box goes to standard error until the pinentry-based box exists.
void platformMessageBox(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

} // namespace orv
