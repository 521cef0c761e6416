#include "plugin/WindowMode.h"

namespace orv {

bool platformRunsWindowless() {
    return true;
}

} // namespace orv
