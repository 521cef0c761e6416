#include "RecordingErrorBox.h"

namespace orv { namespace test {

RecordingErrorBox::RecordingErrorBox() {
    previous_ = setMessageBoxHandler([this](const std::string& text, const std::string& caption) {
        boxes_.push_back(ShownBox{text, caption});
    });
}

RecordingErrorBox::~RecordingErrorBox() {
    setMessageBoxHandler(previous_);
}

}} // namespace orv::test
