#include "PinDialog.h"

#include "ModuleNames.h"
#include "PlatformModule.h"
#include "pin/PinEntry.h"
#include "utf8_tools.h"

#include <string>

namespace orv {

INT_PTR CALLBACK pinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        RECT desktop, own;
        GetWindowRect(GetDesktopWindow(), &desktop);
        GetWindowRect(dialog, &own);
        const int x = desktop.right / 2 - (own.right - own.left) / 2;
        const int y = desktop.bottom / 2 - (own.bottom - own.top) / 2;
        SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE);
        if (!pinRequestOrigin().empty()) {
            // The caption names the site that asks, as the person cannot see the page here.
            wchar_t caption[128] = {};
            GetWindowTextW(dialog, caption, 128);
            const std::wstring text =
                std::wstring(caption) + L" - " + FB::utf8_to_wstring(pinOriginText());
            SetWindowTextW(dialog, text.c_str());
        }
        HWND edit = GetDlgItem(dialog, IDC_PIN_EDIT);
        if (reinterpret_cast<HWND>(wParam) == edit)
            return TRUE;
        SetFocus(edit);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            const UINT read = GetDlgItemTextA(dialog, IDC_PIN_EDIT, pinText,
                                              static_cast<int>(kPinTextSize));
            pinLength = static_cast<std::int32_t>(read);
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

bool showBuiltInPinEntry() {
    // The template lives among the plug-in module's own resources; a null module (plug-in
    // not found by its file name) makes the system look in the executable instead.
    HINSTANCE own = reinterpret_cast<HINSTANCE>(findLoadedModule(moduleFileName("nporvanta")));
    const INT_PTR result = DialogBoxParamW(own, MAKEINTRESOURCEW(IDD_PIN_DIALOG), nullptr,
                                           pinDialogProc, 0);
    return result == IDOK;
}

} // namespace orv
