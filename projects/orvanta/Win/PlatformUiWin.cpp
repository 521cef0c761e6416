#include "PlatformUi.h"

#include <windows.h>

namespace orv {

void platformMessageBox(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

} // namespace orv
