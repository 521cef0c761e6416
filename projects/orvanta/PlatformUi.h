#pragma once
// The error-box seam. A box blocks the calling thread until the user closes it.
// Tests install a handler that records text and caption instead of showing anything.

#include <functional>
#include <string>

namespace orv {

using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption)>;

// Shows a modal box with one OK button and no owner window (or calls the installed handler).
void showMessageBox(const std::string& text, const std::string& caption);

// Installs a handler in place of the platform's box; an empty one restores the platform's.
// Returns the previous handler.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// The platform's own box; implemented once per platform folder.
void platformMessageBox(const std::string& text, const std::string& caption);

} // namespace orv
