#pragma once
// Installs itself in place of the platform's message box for its lifetime and keeps
// every box's text and caption.

#include "PlatformUi.h"

#include <string>
#include <vector>

namespace orv { namespace test {

struct ShownBox {
    std::string text;
    std::string caption;
    bool operator==(const ShownBox& o) const { return text == o.text && caption == o.caption; }
};

class RecordingErrorBox {
public:
    RecordingErrorBox();
    ~RecordingErrorBox();
    RecordingErrorBox(const RecordingErrorBox&) = delete;
    RecordingErrorBox& operator=(const RecordingErrorBox&) = delete;

    const std::vector<ShownBox>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    std::vector<ShownBox> boxes_;
    MessageBoxHandler previous_;
};

}} // namespace orv::test
