// Where the companions are looked for. This executable lies in a folder of its own with an
// olvcrypt module beside it (for a test executable its own folder stands for the plug-in's);
// its current folder, and on Linux LD_LIBRARY_PATH, hold planted modules named olvgui and
// olvcrypt. Every load of one of these modules records its path (PlantedCompanion.c): only
// the one beside the executable may ever be loaded.

#include "RecordingErrorBox.h"
#include "api/TokenOwner.h"
#include "api/orvantaAPI.h"
#include "pin/Companion.h"
#include "pin/PinEntry.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

using namespace orv;

#ifdef _WIN32
const char kSuffix[] = ".dll";
const char kSeparator = '\\';
std::string loads() {
    char text[8192] = {};
    const DWORD n = GetEnvironmentVariableA("ORV_COMPANION_LOADS", text, sizeof text);
    return n < sizeof text ? std::string(text, n) : std::string();
}
std::string currentFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, path);
    return std::string(path, n);
}
#else
const char kSuffix[] = ".so";
const char kSeparator = '/';
std::string loads() {
    const char* text = std::getenv("ORV_COMPANION_LOADS");
    return text ? text : "";
}
std::string currentFolder() {
    char path[4096] = {};
    return getcwd(path, sizeof path) ? path : "";
}
#endif

bool exists(const std::string& path) { return std::ifstream(path).good(); }

class CompanionSearch : public ::testing::Test {
protected:
    void SetUp() override {
        // The planted modules are really there, where a search by bare name would find them.
        for (const char* name : {"olvgui", "olvcrypt"})
            ASSERT_TRUE(exists(currentFolder() + kSeparator + name + kSuffix)) << name;
        besideCrypto = companionPath("olvcrypt");
        ASSERT_TRUE(exists(besideCrypto)) << besideCrypto;
        ASSERT_FALSE(exists(companionPath("olvgui")));
        ASSERT_NE(currentFolder() + kSeparator, besideCrypto.substr(0, besideCrypto.rfind(kSeparator) + 1));
    }
    std::string besideCrypto;
};

TEST_F(CompanionSearch, PinCompanionIsNeverTakenFromTheCurrentFolderOrALibraryPath) {
    int builtInShown = 0;
    PinEntryHandler previous = setPinEntryHandler([&builtInShown] {
        ++builtInShown;
        std::strcpy(pinText, "654321");
        pinLength = 6;
        return true;
    });
    const std::string before = loads();
    unsigned char buffer[36] = {};
    std::int32_t length = -1;
    const int result = askPin(buffer, &length);
    setPinEntryHandler(previous);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length > 0 ? length : 0), "654321");
    EXPECT_EQ(builtInShown, 1) << "no companion beside the plug-in: the built-in entry asks";
    EXPECT_EQ(loads(), before) << "a planted olvgui was loaded";
}

TEST_F(CompanionSearch, CryptoCompanionComesFromBesideThePluginOnly) {
    test::RecordingErrorBox boxes;
    const std::string before = loads();
    auto owner = std::make_shared<orv::TokenOwner>();
    auto api = std::make_shared<orvantaAPI>(owner, nullptr);
    const std::string key = "KMBNPFRCUEHDJALXKMBNPFRCUEHDJALXKMBNPFRCUEHDJALXKMBNPFRCUEHDJALK";
    const std::string hash(64, '7');
    const FB::variant signature = api->Invoke("olvRepair", FB::VariantList{FB::variant(key), FB::variant(hash)});
    ASSERT_TRUE(signature.is_of_type<std::string>());
    EXPECT_EQ(signature.cast<std::string>().size(), 128u);
    EXPECT_EQ(owner->tokenState().cryptoModule, nullptr);
    // Loaded from beside the plug-in, and from nowhere else.
    const std::string seen = loads().substr(before.size());
    EXPECT_EQ(seen, besideCrypto + ";");
}

} // namespace
