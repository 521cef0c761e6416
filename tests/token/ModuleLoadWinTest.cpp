// Loading and releasing the vendor module on Windows (under Wine): the plug-in's own module
// found by its file name, the vendor module beside it, one C_Initialize per process and
// C_Finalize on the last release; and the executable's folder when the plug-in's module is
// not loaded under its name. The doubles live in win-modules beside the test executable.

#include "LogCapture.h"
#include "RecordingErrorBox.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

namespace {

using namespace orv;
using namespace orv::test;

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // the build folder's path is ASCII
}

// The folder of the test executable, with its final backslash.
std::string exeFolder() {
    wchar_t exe[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::string path(exe, exe + n);
    return path.substr(0, path.rfind('\\') + 1);
}

const std::string kFolder = exeFolder() + "win-modules";
const std::string kPlugin = kFolder + "\\nporvanta.dll";
const std::string kVendor = kFolder + "\\olpkcs11xsg.dll";

using CallsFn = long (*)(const char*);

class ModuleLoadWin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(moduleLoadCount, 0); }
    void TearDown() override {
        for (TokenState* s : {b_.get(), a_.get()})
            p11UnloadModule(s->pkcs11Module, s->funcList);
        EXPECT_EQ(moduleLoadCount, 0);
        if (plugin_)
            FreeLibrary(plugin_);
    }
    std::int32_t load(TokenState& s) { return p11LoadModule(&s.pkcs11Module, &s.funcList, &s.containers); }

    RecordingErrorBox boxes_;
    std::unique_ptr<TokenState> a_ = std::make_unique<TokenState>();
    std::unique_ptr<TokenState> b_ = std::make_unique<TokenState>();
    HMODULE plugin_ = nullptr;
};

TEST_F(ModuleLoadWin, VendorModuleBesideThePluginIsInitialisedOnceAndFinalisedLast) {
    plugin_ = LoadLibraryW(wide(kPlugin).c_str());
    ASSERT_NE(plugin_, nullptr) << GetLastError();
    ASSERT_EQ(GetModuleHandleW(wide(kVendor).c_str()), nullptr);

    ASSERT_EQ(load(*a_), 0);
    const HMODULE vendor = GetModuleHandleW(wide(kVendor).c_str());
    ASSERT_NE(vendor, nullptr);  // loaded from the plug-in's folder
    EXPECT_EQ(a_->pkcs11Module, reinterpret_cast<ModuleHandle>(vendor));
    // A reference of the test's own, to read the counts after the last release.
    const HMODULE held = LoadLibraryW(wide(kVendor).c_str());
    ASSERT_EQ(held, vendor);
    const auto calls = reinterpret_cast<CallsFn>(reinterpret_cast<void*>(GetProcAddress(held, "vendor_double_calls")));
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(calls("Initialize"), 1);

    ASSERT_EQ(load(*b_), 0);
    EXPECT_EQ(moduleLoadCount, 2);
    EXPECT_EQ(calls("Initialize"), 1);
    EXPECT_EQ(b_->pkcs11Module, a_->pkcs11Module);
    EXPECT_EQ(b_->funcList, a_->funcList);

    // No token: -1 without a box, after both slot-list calls.
    EXPECT_EQ(p11CheckTokenPresent(b_->funcList, b_->slotList, &b_->slotIndex), -1);
    EXPECT_EQ(calls("SlotList"), 2);

    EXPECT_EQ(p11UnloadModule(a_->pkcs11Module, a_->funcList), 0);
    a_ = std::make_unique<TokenState>();
    EXPECT_EQ(calls("Finalize"), 0);
    EXPECT_EQ(p11UnloadModule(b_->pkcs11Module, b_->funcList), 0);
    b_ = std::make_unique<TokenState>();
    EXPECT_EQ(calls("Finalize"), 1);
    EXPECT_EQ(moduleLoadCount, 0);
    FreeLibrary(held);
    EXPECT_EQ(GetModuleHandleW(wide(kVendor).c_str()), nullptr);  // the load's reference was given back
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ModuleLoadWin, WithoutThePluginModuleTheExecutablesFolderIsUsed) {
    ASSERT_EQ(GetModuleHandleW(L"nporvanta.dll"), nullptr);
    const std::string expected = exeFolder() + "olpkcs11xsg.dll";

    LogCapture log;
    EXPECT_EQ(load(*a_), -50);  // nothing of that name beside the test executable
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0], (ShownBox{"Error loading pkcs11 library 0x0000007E", "Error"}));  // not found
    EXPECT_EQ(moduleLoadCount, 0);
    EXPECT_EQ(a_->pkcs11Module, nullptr);
    EXPECT_EQ(a_->funcList, nullptr);
    bool looked = false;
    for (const auto& record : log.records())
        looked = looked || record.message.find(expected) != std::string::npos;
    EXPECT_TRUE(looked) << "the vendor module was not looked for beside the executable";
}

TEST_F(ModuleLoadWin, VendorModuleWithoutItsExportIsRefusedAndReleased) {
    // The plug-in double is a module without C_GetFunctionList: loaded under the vendor's
    // name from a folder of its own, next to a plug-in of the right name.
    const std::string folder = kFolder + "\\no-export";
    plugin_ = LoadLibraryW(wide(folder + "\\nporvanta.dll").c_str());
    ASSERT_NE(plugin_, nullptr) << GetLastError();
    EXPECT_EQ(load(*a_), -53);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0], (ShownBox{"error get procedure adress 0x0000007F", "GetProcAddress"}));
    EXPECT_EQ(GetModuleHandleW(wide(folder + "\\olpkcs11xsg.dll").c_str()), nullptr);  // freed again
    EXPECT_EQ(moduleLoadCount, 0);
}

} // namespace
