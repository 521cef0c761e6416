#include "PlatformUi.h"

#include <utility>

namespace orv {

namespace {
MessageBoxHandler& installedHandler() {
    static MessageBoxHandler handler;
    return handler;
}
} // namespace

void showMessageBox(const std::string& text, const std::string& caption) {
    // Token services run on the browser's main thread only, so no lock is needed here.
    if (installedHandler())
        installedHandler()(text, caption);
    else
        platformMessageBox(text, caption);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    std::swap(installedHandler(), handler);
    return handler;
}

} // namespace orv
