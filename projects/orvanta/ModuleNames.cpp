#include "ModuleNames.h"

namespace orv {

std::string moduleFileName(const std::string& baseName) {
    return baseName + ORV_MODULE_SUFFIX;
}

} // namespace orv
