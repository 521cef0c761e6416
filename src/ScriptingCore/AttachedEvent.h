#pragma once
// An observer was attached to a source, or detached from it. A window's AttachedEvent is
// the plug-in object's cue that it has a window; DetachedEvent that it has none any more.

#include "PluginEvent.h"

namespace FB {

class AttachedEvent : public PluginEvent {};
class DetachedEvent : public PluginEvent {};

} // namespace FB
