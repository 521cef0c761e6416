#pragma once
// Whether the plug-in asks the browser to run it windowless. Windows browsers give the
// plug-in a real child window; Linux NPAPI browsers give a windowed plug-in none (no
// window, no events, so no AttachedEvent and no token module), only a windowless one gets
// the browser's drawable.

namespace orv {

bool platformRunsWindowless();

} // namespace orv
