#pragma once
// The built-in PIN dialog (resource IDD_PIN_DIALOG in the plug-in module).

#include "PinDialogResource.h"

#include <windows.h>

namespace orv {

// Centres the dialog on the desktop with the focus in the PIN field; OK reads the field into
// the process-wide PIN buffer (at most 31 bytes and a zero) and ends the dialog with the whole
// wParam, Cancel (button, Esc, close box) ends it with wParam.
INT_PTR CALLBACK pinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace orv
