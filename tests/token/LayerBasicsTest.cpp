// What the session layer decides before it calls the module: the load count, bad arguments,
// the container table and its names, and the 32-bit status arithmetic. No module is loaded;
// the few tests that need the count raise it themselves.

#include "RecordingErrorBox.h"
#include "pin/PinEntry.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace orv;
using orv::test::RecordingErrorBox;

// Pretends a plug-in object has the module loaded, for calls that stop before the module.
struct LoadedCount {
    LoadedCount() { moduleLoadCount = 1; }
    ~LoadedCount() { moduleLoadCount = 0; }
};

// A function list whose entries are all null: a call that reaches the module crashes.
CK_FUNCTION_LIST* unusedList() {
    static CK_FUNCTION_LIST list;
    std::memset(&list, 0, sizeof list);
    return &list;
}

struct Case {
    const char* name;
    std::function<std::int32_t()> run;
};

TEST(LayerBasics, TokenFunctionsRefuseToRunWithoutALoadedModule) {
    ASSERT_EQ(moduleLoadCount, 0);
    RecordingErrorBox boxes;
    auto fl = unusedList();
    TokenState s;
    unsigned char bytes[64] = {};
    CK_ULONG length = 64;
    CK_OBJECT_HANDLE handle = 0;
    CK_STATE state = 0;
    std::uint32_t count = 0;
    const Case cases[] = {
        {"p11CheckTokenPresent", [&] { return p11CheckTokenPresent(fl, s.slotList, &s.slotIndex); }},
        {"p11EnsureSession", [&] { return p11EnsureSession(fl, s.slotList, 0, &s.session, &state); }},
        {"p11Login", [&] { return p11Login(fl, 1, CKU_USER, bytes, 6); }},
        {"p11LoginWithDialog", [&] { return p11LoginWithDialog(fl, 1, CKU_USER); }},
        {"p11Logout", [&] { return p11Logout(fl, 1); }},
        {"p11FindKey", [&] { return p11FindKey(fl, 1, bytes, 1, 0, 0, &handle); }},
        {"p11ReadKeyValue", [&] { return p11ReadKeyValue(fl, 1, 1, bytes, &length); }},
        {"p11Sign", [&] { return p11Sign(fl, 1, 1, bytes, 32, bytes, &length); }},
        {"p11DestroyObject", [&] { return p11DestroyObject(fl, 1, 1); }},
        {"p11GenerateKeyPair", [&] { return p11GenerateKeyPair(fl, 1, bytes, 1, &handle); }},
        {"p11ListContainers", [&] { return p11ListContainers(fl, 1, &count, &s.containers); }},
        {"p11GetContainerName", [&] { return p11GetContainerName(&s.containers, 0, nullptr, &count); }},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.run(), -51) << c.name;
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(pinDialogDepth, 0);
}

TEST(LayerBasics, MissingPointersAndZeroLengthsAreMinusTen) {
    LoadedCount loaded;
    auto fl = unusedList();
    TokenState s;
    unsigned char bytes[64] = {};
    CK_ULONG length = 64;
    CK_OBJECT_HANDLE handle = 0;
    CK_STATE state = 0;
    std::uint32_t count = 0;
    const Case cases[] = {
        {"present: no list", [&] { return p11CheckTokenPresent(nullptr, s.slotList, &s.slotIndex); }},
        {"present: no slots", [&] { return p11CheckTokenPresent(fl, nullptr, &s.slotIndex); }},
        {"present: no index", [&] { return p11CheckTokenPresent(fl, s.slotList, nullptr); }},
        {"session: no list", [&] { return p11EnsureSession(nullptr, s.slotList, 0, &s.session, &state); }},
        {"session: no slots", [&] { return p11EnsureSession(fl, nullptr, 0, &s.session, &state); }},
        {"session: no session", [&] { return p11EnsureSession(fl, s.slotList, 0, nullptr, &state); }},
        {"session: no state", [&] { return p11EnsureSession(fl, s.slotList, 0, &s.session, nullptr); }},
        {"session: index 5", [&] { return p11EnsureSession(fl, s.slotList, 5, &s.session, &state); }},
        {"login: no list", [&] { return p11Login(nullptr, 1, CKU_USER, bytes, 6); }},
        {"login: no pin", [&] { return p11Login(fl, 1, CKU_USER, nullptr, 6); }},
        {"dialog: no list", [&] { return p11LoginWithDialog(nullptr, 1, CKU_USER); }},
        {"logout: no list", [&] { return p11Logout(nullptr, 1); }},
        {"find: no name", [&] { return p11FindKey(fl, 1, nullptr, 1, 0, 0, &handle); }},
        {"find: empty name", [&] { return p11FindKey(fl, 1, bytes, 0, 0, 0, &handle); }},
        {"find: no out", [&] { return p11FindKey(fl, 1, bytes, 1, 0, 0, nullptr); }},
        {"read: no buffer", [&] { return p11ReadKeyValue(fl, 1, 1, nullptr, &length); }},
        {"read: no length", [&] { return p11ReadKeyValue(fl, 1, 1, bytes, nullptr); }},
        {"sign: no data", [&] { return p11Sign(fl, 1, 1, nullptr, 32, bytes, &length); }},
        {"sign: empty data", [&] { return p11Sign(fl, 1, 1, bytes, 0, bytes, &length); }},
        {"sign: no signature", [&] { return p11Sign(fl, 1, 1, bytes, 32, nullptr, &length); }},
        {"sign: no length", [&] { return p11Sign(fl, 1, 1, bytes, 32, bytes, nullptr); }},
        {"destroy: no list", [&] { return p11DestroyObject(nullptr, 1, 1); }},
        {"generate: no name", [&] { return p11GenerateKeyPair(fl, 1, nullptr, 1, &handle); }},
        {"generate: empty name", [&] { return p11GenerateKeyPair(fl, 1, bytes, 0, &handle); }},
        {"generate: no out", [&] { return p11GenerateKeyPair(fl, 1, bytes, 1, nullptr); }},
        {"list: no count", [&] { return p11ListContainers(fl, 1, nullptr, &s.containers); }},
        {"list: no table", [&] { return p11ListContainers(fl, 1, &count, nullptr); }},
        {"name: no table", [&] { return p11GetContainerName(nullptr, 0, nullptr, &count); }},
        {"name: no length", [&] { return p11GetContainerName(&s.containers, 0, bytes, nullptr); }},
        {"load: no module", [&] { return p11LoadModule(nullptr, &s.funcList, &s.containers); }},
        {"load: no list", [&] { return p11LoadModule(&s.pkcs11Module, nullptr, &s.containers); }},
        {"load: no table", [&] { return p11LoadModule(&s.pkcs11Module, &s.funcList, nullptr); }},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.run(), -10) << c.name;
    EXPECT_EQ(moduleLoadCount, 1);
}

TEST(LayerBasics, StatusIsMinusEightyMinusRvIn32Bits) {
    EXPECT_EQ(p11CallFailureStatus(0x101), -337);
    EXPECT_EQ(p11CallFailureStatus(0x5), -85);
    EXPECT_EQ(p11CallFailureStatus(0x80000001UL), 2147483567);
    EXPECT_EQ(p11CallFailureStatus(0xFFFFFFFFUL), -79);
}

TEST(LayerBasics, UnloadWithoutALoadDoesNothing) {
    EXPECT_EQ(p11UnloadModule(nullptr, nullptr), 0);
    EXPECT_EQ(moduleLoadCount, 0);
    // A plug-in object whose load failed holds no share of another object's load.
    LoadedCount loaded;
    EXPECT_EQ(p11UnloadModule(nullptr, nullptr), 0);
    EXPECT_EQ(moduleLoadCount, 1);
}

// ---- A module that claims more search results than it wrote ----

// C_FindObjects claims `claimed` handles and writes none; C_GetAttributeValue records the
// handle it is asked about and refuses it.
struct OverclaimingSearch {
    static CK_RV findInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return CKR_OK; }
    static CK_RV find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR, CK_ULONG, CK_ULONG_PTR count) {
        *count = claimed();
        return CKR_OK;
    }
    static CK_RV findFinal(CK_SESSION_HANDLE) { return CKR_OK; }
    static CK_RV getAttribute(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR, CK_ULONG) {
        named().push_back(object);
        return CKR_OBJECT_HANDLE_INVALID;
    }
    static CK_ULONG& claimed() {
        static CK_ULONG count = 0;
        return count;
    }
    static std::vector<CK_OBJECT_HANDLE>& named() {
        static std::vector<CK_OBJECT_HANDLE> handles;
        return handles;
    }
    explicit OverclaimingSearch(CK_ULONG count) {
        std::memset(&list, 0, sizeof list);
        list.C_FindObjectsInit = &findInit;
        list.C_FindObjects = &find;
        list.C_FindObjectsFinal = &findFinal;
        list.C_GetAttributeValue = &getAttribute;
        claimed() = count;
        named().clear();
    }
    CK_FUNCTION_LIST list;
};

// Leaves a non-zero pattern on the stack where the next call's locals will lie, so a
// handle array the layer never cleared holds garbage rather than zeros by luck.
__attribute__((noinline)) void dirtyStack() {
    volatile unsigned char junk[16384];
    for (auto& b : junk)
        b = 0xA5;
}

TEST(LayerBasics, SearchResultsTheModuleNeverWroteNameNoObject) {
    LoadedCount loaded;
    RecordingErrorBox boxes;
    {
        OverclaimingSearch module(1);
        const unsigned char name[] = {'k'};
        CK_OBJECT_HANDLE object = 77;
        dirtyStack();
        EXPECT_EQ(p11FindKey(&module.list, 1, name, sizeof name, 0, 0, &object), 0);
        EXPECT_EQ(object, 0u);  // one claimed, none written: no key
    }
    {
        OverclaimingSearch module(3);
        ContainerTable table;
        std::uint32_t count = 0;
        dirtyStack();
        EXPECT_EQ(p11ListContainers(&module.list, 1, &count, &table), p11CallFailureStatus(CKR_OBJECT_HANDLE_INVALID));
        EXPECT_EQ(OverclaimingSearch::named(), std::vector<CK_OBJECT_HANDLE>{CK_INVALID_HANDLE});
    }
}

// ---- The PIN dialog depth ----

// A module as far as a login needs it: C_Login keeps the PIN it was given.
struct LoginOnly {
    static CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
        lastPin().assign(reinterpret_cast<const char*>(pin), length);
        return CKR_OK;
    }
    static std::string& lastPin() {
        static std::string pin;
        return pin;
    }
    LoginOnly() {
        std::memset(&list, 0, sizeof list);
        list.C_Login = &login;
        lastPin().clear();
    }
    CK_FUNCTION_LIST list;
};

// Installs a built-in PIN entry for its lifetime.
struct PinEntryDouble {
    explicit PinEntryDouble(PinEntryHandler h) : previous(setPinEntryHandler(std::move(h))) {}
    ~PinEntryDouble() { setPinEntryHandler(previous); }
    PinEntryHandler previous;
};

TEST(LayerBasics, PinDialogDepthGoesBackDownWhenTheEntryThrows) {
    LoadedCount loaded;
    LoginOnly module;
    const struct {
        const char* name;
        std::function<void()> entry;
    } failures[] = {
        {"standard exception", [] { throw std::runtime_error("the PIN window could not be made"); }},
        {"out of memory", [] { throw std::bad_alloc(); }},
        {"anything else", [] { throw 42; }},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.name);
        {
            PinEntryDouble entry([&] {
                std::memcpy(pinText, "12", 2);  // half typed when it fails
                pinLength = 2;
                f.entry();
                return true;
            });
            std::int32_t status = 0;
            bool thrown = false;
            try {
                status = p11LoginWithDialog(&module.list, 1, CKU_USER);
            } catch (...) {
                thrown = true;
            }
            // A failed entry is a cancel for the page; only what is not an exception of
            // the standard library's kind passes through, and then the depth is back too.
            if (std::string(f.name) == "anything else")
                EXPECT_TRUE(thrown);
            else
                EXPECT_EQ(status, -7);
            EXPECT_EQ(pinDialogDepth, 0);
            EXPECT_EQ(pinLength, 0);  // the half-typed PIN is wiped
            EXPECT_EQ(pinText[0], 0);
        }
        // The next request asks again (not -12) and logs in.
        PinEntryDouble entry([] {
            std::memcpy(pinText, "123456", 6);
            pinLength = 6;
            return true;
        });
        EXPECT_EQ(p11LoginWithDialog(&module.list, 1, CKU_USER), 0);
        EXPECT_EQ(LoginOnly::lastPin(), "123456");
        EXPECT_EQ(pinDialogDepth, 0);
    }
}

// ---- The container table ----

class ContainerTableTest : public ::testing::Test {
protected:
    void put(std::size_t index, const std::string& name) {
        ContainerEntry& e = table_->entries[index];
        std::memcpy(e.name, name.data(), name.size());
        e.length = static_cast<std::uint32_t>(name.size());
    }
    LoadedCount loaded_;
    std::unique_ptr<TokenState> state_ = std::make_unique<TokenState>();
    ContainerTable* table_ = &state_->containers;
};

TEST_F(ContainerTableTest, NewStateHoldsThePlaceholderEverywhere) {
    for (const ContainerEntry& e : table_->entries) {
        ASSERT_EQ(e.length, 28u);
        ASSERT_EQ(std::memcmp(e.name, "///*///emptycontainer///*///", 28), 0);
    }
    std::uint32_t length = 0;
    EXPECT_EQ(p11GetContainerName(table_, 0, nullptr, &length), 0);
    EXPECT_EQ(length, 28u);
    unsigned char buffer[257];
    length = sizeof buffer;
    EXPECT_EQ(p11GetContainerName(table_, 63, buffer, &length), -20);
}

TEST_F(ContainerTableTest, ResetWritesOnlyThePlaceholderPrefix) {
    put(3, std::string(40, 'n'));
    p11ResetContainers(table_);
    EXPECT_EQ(table_->entries[3].length, 28u);
    EXPECT_EQ(std::memcmp(table_->entries[3].name, "///*///emptycontainer///*///", 28), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(table_->entries[3].name) + 28, 12), std::string(12, 'n'));
}

TEST_F(ContainerTableTest, NameIsCopiedUnterminatedAfterALengthQuery) {
    put(7, "my container");
    std::uint32_t length = 0;
    ASSERT_EQ(p11GetContainerName(table_, 7, nullptr, &length), 0);
    ASSERT_EQ(length, 12u);
    std::vector<unsigned char> buffer(length + 4, 0xEE);
    EXPECT_EQ(p11GetContainerName(table_, 7, buffer.data(), &length), 0);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 12), "my container");
    EXPECT_EQ(buffer[12], 0xEE);
}

TEST_F(ContainerTableTest, PrefixOfThePlaceholderReadsAsEmpty) {
    // After a reset, a shorter name leaves the rest of the placeholder in place.
    put(0, "///*");
    std::uint32_t length = 0;
    EXPECT_EQ(p11GetContainerName(table_, 0, nullptr, &length), 0);
    EXPECT_EQ(length, 4u);
    unsigned char buffer[257];
    EXPECT_EQ(p11GetContainerName(table_, 0, buffer, &length), -20);
    // One differing byte anywhere in the 28 makes it a name.
    for (std::size_t i : {std::size_t(0), std::size_t(13), std::size_t(27)}) {
        p11ResetContainers(table_);
        table_->entries[1].name[i] ^= 1;
        length = sizeof buffer;
        EXPECT_EQ(p11GetContainerName(table_, 1, buffer, &length), 0) << i;
        EXPECT_EQ(length, 28u);
    }
}

TEST_F(ContainerTableTest, IndexOutsideTheTableIsMinusTen) {
    for (std::int32_t index : {-1, 64, 65, 1 << 30, -2147483647 - 1}) {
        std::uint32_t length = 99;
        unsigned char buffer[8];
        EXPECT_EQ(p11GetContainerName(table_, index, nullptr, &length), -10) << index;
        EXPECT_EQ(p11GetContainerName(table_, index, buffer, &length), -10) << index;
        EXPECT_EQ(length, 99u);
    }
}

TEST_F(ContainerTableTest, NameLongerThanTheCallersBufferIsMinusTen) {
    put(2, std::string(300, 'z'));
    std::vector<unsigned char> buffer(257, 0xEE);
    std::uint32_t length = 257;
    EXPECT_EQ(p11GetContainerName(table_, 2, buffer.data(), &length), -10);
    EXPECT_EQ(length, 300u);  // how much room it would need
    EXPECT_EQ(buffer[0], 0xEE);
    // A name of the full 1024 bytes fits a buffer of that size.
    put(2, std::string(1024, 'y'));
    buffer.assign(1024, 0);
    length = 1024;
    EXPECT_EQ(p11GetContainerName(table_, 2, buffer.data(), &length), 0);
    EXPECT_EQ(buffer[1023], 'y');
}

} // namespace
