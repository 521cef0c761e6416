// The built-in PIN dialog and the error box on Windows (run under Wine with an X display).
// The test executable carries the dialog resource; no companion is installed. A second
// thread plays the user with real window messages, and every wait is bounded.

#include "ErrorBox.h"
#include "PinTestSupport.h"
#include "PlatformUi.h"
#include "Win/PinDialog.h"

#include <windows.h>

#include <functional>
#include <vector>

namespace {

using namespace orv;
using namespace orv::test;

const wchar_t kCaption[] = L"Ввод пин-кода";

HWND waitForWindow(const wchar_t* caption, DWORD ms = 15000) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (HWND found = FindWindowW(L"#32770", caption))
            if (IsWindowVisible(found))
                return found;
        Sleep(20);
    }
    return nullptr;
}

std::wstring textOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Plays the user on another thread: waits for the dialog, runs `act` on it, and cancels it
// afterwards if it is still there, so a failing check never leaves the test hanging.
class User {
public:
    User(const wchar_t* caption, std::function<void(HWND)> act)
        : caption_(caption), act_(std::move(act)), owner_(GetCurrentThreadId()) {
        thread_ = CreateThread(nullptr, 0, &User::run, this, 0, nullptr);
    }
    ~User() {
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
    }
    bool found() const { return found_; }
    DWORD owner() const { return owner_; }

private:
    static DWORD WINAPI run(void* self) {
        auto* user = static_cast<User*>(self);
        HWND dialog = waitForWindow(user->caption_);
        user->found_ = dialog != nullptr;
        if (!dialog)
            return 0;
        user->act_(dialog);
        for (int i = 0; i < 100 && IsWindow(dialog); ++i) {
            if (i == 50)
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            Sleep(20);
        }
        return 0;
    }

    const wchar_t* caption_;
    std::function<void(HWND)> act_;
    DWORD owner_;
    HANDLE thread_ = nullptr;
    volatile bool found_ = false;
};

void type(HWND dialog, const std::string& text) {
    HWND edit = GetDlgItem(dialog, IDC_PIN_EDIT);
    for (char c : text)
        PostMessageW(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 0);
}

void press(HWND dialog, UINT key) {
    HWND focus = GetDlgItem(dialog, IDC_PIN_EDIT);
    PostMessageW(focus, WM_KEYDOWN, key, 0);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000000);
}

// ---- The resource itself ----

#pragma pack(push, 1)
struct TemplateHead {  // DLGTEMPLATEEX up to the menu field
    WORD dlgVer, signature;
    DWORD helpID, exStyle, style;
    WORD cDlgItems;
    short x, y, cx, cy;
};
struct ItemHead {  // DLGITEMTEMPLATEEX up to the class field
    DWORD helpID, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
};
#pragma pack(pop)

const WORD* skipString(const WORD* p) {
    while (*p++) {
    }
    return p;
}

const WORD* align4(const void* p, const void* base) {
    const auto offset = static_cast<const BYTE*>(p) - static_cast<const BYTE*>(base);
    return reinterpret_cast<const WORD*>(static_cast<const BYTE*>(base) + ((offset + 3) & ~3));
}

TEST(PinDialogResource, ExtendedTemplateInRussianWithTheFourControls) {
    HRSRC found = FindResourceExW(nullptr, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(2101),
                                  MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), 1049);
    const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(base, nullptr);
    const auto* head = reinterpret_cast<const TemplateHead*>(base);
    EXPECT_EQ(head->dlgVer, 1);
    EXPECT_EQ(head->signature, 0xFFFF);
    EXPECT_EQ(head->exStyle, 0u);
    EXPECT_EQ(head->style, 0x80C800C8u);
    EXPECT_EQ(head->cDlgItems, 4);
    EXPECT_EQ(head->x, 0);
    EXPECT_EQ(head->y, 0);
    EXPECT_EQ(head->cx, 180);
    EXPECT_EQ(head->cy, 68);
    const WORD* p = reinterpret_cast<const WORD*>(head + 1);
    EXPECT_EQ(*p, 0);  // no menu
    p = skipString(p);
    EXPECT_EQ(*p, 0);  // the default dialog class
    p = skipString(p);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(p)), kCaption);
    p = skipString(p);
    EXPECT_EQ(p[0], 8);    // point size
    EXPECT_EQ(p[1], 400);  // weight
    EXPECT_EQ(reinterpret_cast<const BYTE*>(p + 2)[0], 0);  // not italic
    EXPECT_EQ(reinterpret_cast<const BYTE*>(p + 2)[1], 1);  // character set
    p += 3;
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(p)), L"MS Shell Dlg");
    p = skipString(p);

    struct Control {
        WORD atom;
        DWORD id;
        const wchar_t* text;
        DWORD style;
        short x, y, cx, cy;
    } expected[] = {
        {0x80, 1, L"OK", 0x50010001, 69, 47, 50, 14},
        {0x80, 2, L"Отмена", 0x50010000, 123, 47, 50, 14},
        {0x81, 2201, L"", 0x508100A1, 7, 28, 166, 14},
        {0x82, 0xFFFFFFFF, L"Введите пин-код", 0x50020000, 7, 15, 166, 8},
    };
    for (const Control& c : expected) {
        SCOPED_TRACE(c.id);
        const auto* item = reinterpret_cast<const ItemHead*>(align4(p, base));
        EXPECT_EQ(item->exStyle, 0u);
        EXPECT_EQ(item->style, c.style);
        EXPECT_EQ(item->x, c.x);
        EXPECT_EQ(item->y, c.y);
        EXPECT_EQ(item->cx, c.cx);
        EXPECT_EQ(item->cy, c.cy);
        EXPECT_EQ(item->id, c.id);
        p = reinterpret_cast<const WORD*>(item + 1);
        EXPECT_EQ(p[0], 0xFFFF);  // class by atom
        EXPECT_EQ(p[1], c.atom);
        p += 2;
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(p)), c.text);
        p = skipString(p);
        p += 1 + *p / 2;  // creation data
    }
}

// ---- The dialog on screen ----

TEST(PinDialog, CentredWithItsControlsAndTheFocusInTheField) {
    bool checked = false;
    User user(kCaption, [&](HWND dialog) {
        EXPECT_EQ(textOf(dialog), kCaption);

        struct Expected {
            const wchar_t* cls;
            int id;
            const wchar_t* text;
        } controls[] = {
            {L"Button", 1, L"OK"}, {L"Button", 2, L"Отмена"}, {L"Edit", IDC_PIN_EDIT, L""},
            {L"Static", -1, L"Введите пин-код"}};
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const Expected& e : controls) {
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(_wcsicmp(classOf(child).c_str(), e.cls), 0) << e.id;
            EXPECT_EQ(static_cast<short>(GetDlgCtrlID(child)), e.id);
            EXPECT_EQ(textOf(child), e.text);
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr);
        HWND edit = GetDlgItem(dialog, IDC_PIN_EDIT);
        EXPECT_NE(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), 0);  // masked
        EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_CENTER);

        RECT desktop, own;
        GetWindowRect(GetDesktopWindow(), &desktop);
        GetWindowRect(dialog, &own);
        EXPECT_EQ(own.left, desktop.right / 2 - (own.right - own.left) / 2);
        EXPECT_EQ(own.top, desktop.bottom / 2 - (own.bottom - own.top) / 2);

        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info));
        EXPECT_EQ(info.hwndFocus, edit);
        checked = true;
        press(dialog, VK_ESCAPE);
    });
    const Entered entered = ask();
    EXPECT_TRUE(user.found());
    EXPECT_TRUE(checked);
    EXPECT_EQ(entered.result, 0);  // Esc cancels
}

TEST(PinDialog, FortyTypedCharactersGiveThirtyOneBytes) {
    const std::string typed = "abcdefghijABCDEFGHIJ0123456789klmnopqrst";
    ASSERT_EQ(typed.size(), 40u);
    User user(kCaption, [&](HWND dialog) {
        type(dialog, typed);
        press(dialog, VK_RETURN);
    });
    const Entered entered = ask();
    EXPECT_TRUE(user.found());
    EXPECT_EQ(entered.result, 1);
    EXPECT_EQ(entered.pin, typed.substr(0, 31));
    EXPECT_TRUE(pinBufferWiped());
}

TEST(PinDialog, OkButtonAndCloseBox) {
    {
        User user(kCaption, [&](HWND dialog) {
            type(dialog, "123456");
            PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        });
        const Entered entered = ask();
        EXPECT_TRUE(user.found());
        EXPECT_EQ(entered.result, 1);
        EXPECT_EQ(entered.pin, "123456");
    }
    {
        User user(kCaption, [&](HWND dialog) {
            type(dialog, "123456");
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        EXPECT_EQ(ask().result, 0);
        EXPECT_TRUE(user.found());
    }
}

TEST(PinDialog, EmptyPinConfirmedIsTooShortForTheLogin) {
    LoginOnlyModule module;
    User user(kCaption, [&](HWND dialog) { press(dialog, VK_RETURN); });
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), -6);
    EXPECT_TRUE(user.found());
    EXPECT_EQ(LoginOnlyModule::calls(), 0);
}

// The dialog's message loop runs timers of the asking thread: a script call arriving that
// way asks for a PIN again while the dialog is open.
std::int32_t nestedStatus = 1;
CK_FUNCTION_LIST* nestedList = nullptr;
void CALLBACK callAgain(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    nestedStatus = p11LoginWithDialog(nestedList, 7, CKU_USER);
}

TEST(PinDialog, SecondRequestFromTheDialogsLoopIsRefused) {
    LoginOnlyModule module;
    nestedList = module.list();
    nestedStatus = 1;
    User user(kCaption, [&](HWND dialog) {
        for (int i = 0; i < 250 && nestedStatus == 1; ++i)
            Sleep(20);
        type(dialog, "123456");
        press(dialog, VK_RETURN);
    });
    SetTimer(nullptr, 0, 50, &callAgain);
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), 0);
    EXPECT_TRUE(user.found());
    EXPECT_EQ(nestedStatus, -12);
    EXPECT_EQ(LoginOnlyModule::calls(), 1);
    EXPECT_EQ(LoginOnlyModule::lastPin(), "123456");
    EXPECT_EQ(pinDialogDepth, 0);
}

TEST(PinDialog, CancelIsMinusSevenWithoutLogin) {
    LoginOnlyModule module;
    User user(kCaption, [&](HWND dialog) { press(dialog, VK_ESCAPE); });
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), -7);
    EXPECT_TRUE(user.found());
    EXPECT_EQ(LoginOnlyModule::calls(), 0);
}

// ---- The error box ----

TEST(ErrorBoxWin, MessageBoxShowsTheTextUnderItsCaption) {
    std::vector<std::wstring> texts;
    int buttons = 0;
    User user(L"C_Login", [&](HWND box) {
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!IsWindowVisible(child))
                continue;
            texts.push_back(textOf(child));
            if (_wcsicmp(classOf(child).c_str(), L"Button") == 0)
                ++buttons;
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    showErrorBox("some pkcs11 error", "C_Login", 5);
    EXPECT_TRUE(user.found());
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"some pkcs11 error 0x00000005"), texts.end());
    EXPECT_EQ(buttons, 1);
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"OK"), texts.end());
}

} // namespace
