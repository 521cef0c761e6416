#pragma once
// The few Xlib names the plug-in's headers need, declared as Xlib declares them, so that
// Xlib's macros (None, Bool, Status, True, ...) stay out of every file that includes them.

typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

namespace FB {
using XDrawable = unsigned long;  // Xlib's Drawable and Window (an XID)
}
