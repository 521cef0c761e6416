#include "plugin/WindowMode.h"

namespace orv {

bool platformRunsWindowless() {
    return false;
}

} // namespace orv
