// Loading and releasing the vendor module: one C_Initialize per process, C_Finalize on the
// last release, the failures of each step, and where the module is looked for.

#include "ModuleNames.h"
#include "PlatformModule.h"
#include "RecordingErrorBox.h"
#include "SoftHsmToken.h"
#include "Standin.h"
#include "token/Pkcs11Session.h"
#include "TokenFixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace orv;
using namespace orv::test;
namespace fs = std::filesystem;

class ModuleLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(moduleLoadCount, 0);
        standin().reset();
    }
    void TearDown() override {
        for (auto* s : {b_.get(), a_.get()})
            p11UnloadModule(s->pkcs11Module, s->funcList);
        EXPECT_EQ(moduleLoadCount, 0);
        for (void* m : doubles_)
            dlclose(m);
        if (!folder_.empty())
            fs::remove_all(folder_);
    }

    Standin& standin() { return token_.standin(); }

    std::int32_t load(TokenState& s) {
        return p11LoadModule(&s.pkcs11Module, &s.funcList, &s.containers);
    }

    // A scratch folder for module files, removed after the test.
    std::string folder() {
        if (folder_.empty()) {
            char pattern[] = "/tmp/orvanta-modules.XXXXXX";
            EXPECT_NE(mkdtemp(pattern), nullptr);
            folder_ = pattern;
        }
        return folder_;
    }

    // Copies the plug-in double to `path` and loads it from there, as a browser loads the
    // plug-in.
    void loadPluginAs(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(ORV_PLUGIN_DOUBLE_PATH, path, fs::copy_options::overwrite_existing);
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        doubles_.push_back(module);
    }

    void expectOneBox(const std::string& text, const std::string& caption) {
        ASSERT_EQ(boxes_.boxes().size(), 1u);
        EXPECT_EQ(boxes_.boxes()[0], (ShownBox{text, caption}));
    }

    SoftHsmToken token_;
    RecordingErrorBox boxes_;
    std::unique_ptr<TokenState> a_ = std::make_unique<TokenState>();
    std::unique_ptr<TokenState> b_ = std::make_unique<TokenState>();
    std::vector<void*> doubles_;
    std::string folder_;
};

void scribble(ContainerTable& table) {
    for (ContainerEntry& e : table.entries) {
        std::memset(e.name, 'x', sizeof e.name);
        e.length = 5;
    }
}

// A folder path of exactly `length` characters (final separator included) below `base`.
std::string deepFolder(std::string base, std::size_t length) {
    while (base.size() < length) {
        const std::size_t left = length - base.size();
        std::size_t part = std::min<std::size_t>(100, left - 1);
        if (left - (part + 1) == 1)
            --part;  // never leave room for nothing but a separator
        base += std::string(part, 'd') + '/';
    }
    return base;
}

bool isReset(const ContainerTable& table) {
    for (const ContainerEntry& e : table.entries)
        if (e.length != 28 || std::memcmp(e.name, "///*///emptycontainer///*///", 28) != 0 ||
            e.name[28] != 'x')
            return false;
    return true;
}

TEST_F(ModuleLoad, FirstLoadInitialisesAndOnlyTheLastUnloadFinalises) {
    scribble(a_->containers);
    scribble(b_->containers);
    ASSERT_EQ(load(*a_), 0);
    EXPECT_EQ(moduleLoadCount, 1);
    EXPECT_EQ(standin().calls(), (std::vector<std::string>{"C_GetFunctionList", "C_Initialize"}));
    EXPECT_EQ(standin().arg(1, "argsNull"), 1u);
    EXPECT_NE(a_->funcList, nullptr);
    EXPECT_TRUE(isReset(a_->containers));

    // A second plug-in object shares the module: no second C_Initialize.
    ASSERT_EQ(load(*b_), 0);
    EXPECT_EQ(moduleLoadCount, 2);
    EXPECT_EQ(standin().callsOf("C_Initialize"), 1u);
    EXPECT_EQ(b_->funcList, a_->funcList);
    EXPECT_EQ(b_->pkcs11Module, a_->pkcs11Module);
    EXPECT_TRUE(isReset(b_->containers));

    // Releasing the first leaves it initialised for the second.
    EXPECT_EQ(p11UnloadModule(a_->pkcs11Module, a_->funcList), 0);
    a_ = std::make_unique<TokenState>();
    EXPECT_EQ(moduleLoadCount, 1);
    EXPECT_EQ(standin().callsOf("C_Finalize"), 0u);
    EXPECT_EQ(p11CheckTokenPresent(b_->funcList, b_->slotList, &b_->slotIndex), 0);

    EXPECT_EQ(p11UnloadModule(b_->pkcs11Module, b_->funcList), 0);
    b_ = std::make_unique<TokenState>();
    EXPECT_EQ(moduleLoadCount, 0);
    ASSERT_EQ(standin().callsOf("C_Finalize"), 1u);
    EXPECT_EQ(standin().arg(*standin().findCall("C_Finalize"), "argsNull"), 1u);
    EXPECT_FALSE(standin().targetInitialized());

    // Once released, the token functions refuse to run.
    EXPECT_EQ(p11CheckTokenPresent(b_->funcList, b_->slotList, &b_->slotIndex), -51);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ModuleLoad, FailingInitialisationIsMinusFiftyOneAndCountsNothing) {
    standin().fail("C_Initialize", 1, CKR_GENERAL_ERROR);
    EXPECT_EQ(load(*a_), -51);
    expectOneBox("Cannot initialize olpkcs11xsg.dll 0x00000005", "Error");
    EXPECT_EQ(moduleLoadCount, 0);
    EXPECT_EQ(a_->funcList, nullptr);
    EXPECT_EQ(a_->pkcs11Module, nullptr);
}

TEST_F(ModuleLoad, MissingFunctionListIsMinusFiftyThree) {
    for (CK_RV rv : {static_cast<CK_RV>(CKR_GENERAL_ERROR), static_cast<CK_RV>(CKR_OK)}) {
        boxes_.clear();
        standin().fail("C_GetFunctionList", 1, rv);  // CKR_OK: success without a list
        EXPECT_EQ(load(*a_), -53);
        expectOneBox(rv == CKR_OK ? "error get procedure list pointer 0x00000000"
                                  : "error get procedure list pointer 0x00000005",
                     "GetFunctionList");
        EXPECT_EQ(moduleLoadCount, 0);
        EXPECT_EQ(a_->funcList, nullptr);
        EXPECT_EQ(standin().callsOf("C_Initialize"), 0u);
    }
}

TEST_F(ModuleLoad, ObjectWhoseLoadFailedDoesNotReleaseTheOthersModule) {
    ASSERT_EQ(load(*a_), 0);
    standin().fail("C_GetFunctionList", 1, CKR_GENERAL_ERROR);
    EXPECT_EQ(load(*b_), -53);
    EXPECT_EQ(moduleLoadCount, 1);
    EXPECT_EQ(b_->pkcs11Module, nullptr);
    EXPECT_EQ(p11UnloadModule(b_->pkcs11Module, b_->funcList), 0);
    EXPECT_EQ(moduleLoadCount, 1);
    EXPECT_EQ(standin().callsOf("C_Finalize"), 0u);
    EXPECT_EQ(p11CheckTokenPresent(a_->funcList, a_->slotList, &a_->slotIndex), 0);
}

TEST_F(ModuleLoad, VendorModuleIsLookedForBesideThePluginModule) {
    const std::string plugin = folder() + "/" + moduleFileName("nporvanta");
    loadPluginAs(plugin);

    // Nothing beside it yet.
    EXPECT_EQ(load(*a_), -50);
    expectOneBox("Error loading pkcs11 library 0x00000002", "Error");  // ENOENT
    EXPECT_EQ(moduleLoadCount, 0);
    EXPECT_EQ(standin().callCount(), 0u);

    // A module without C_GetFunctionList beside it: refused and released again.
    const std::string vendor = folder() + "/" + moduleFileName("olpkcs11xsg");
    fs::copy_file(ORV_PLUGIN_DOUBLE_PATH, vendor);
    boxes_.clear();
    EXPECT_EQ(load(*a_), -53);
    expectOneBox("error get procedure adress 0x00000002", "GetProcAddress");
    EXPECT_EQ(findLoadedModule(vendor), nullptr);

    // The stand-in beside it is loaded from there.
    fs::remove(vendor);
    fs::create_symlink(Standin::modulePath(), vendor);
    boxes_.clear();
    EXPECT_EQ(load(*a_), 0);
    EXPECT_EQ(standin().callsOf("C_Initialize"), 1u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ModuleLoad, PluginLoadedThroughALinkFindsTheVendorModuleBesideItsRealFile) {
    // The plug-in file in one folder, a browser's plug-in folder holding only a link to it:
    // the vendor module is taken from beside the file, never from beside the link.
    const std::string real = folder() + "/lib/orvanta/";
    const std::string links = folder() + "/plugins/";
    fs::create_directories(real);
    fs::create_directories(links);
    fs::copy_file(ORV_PLUGIN_DOUBLE_PATH, real + moduleFileName("nporvanta"));
    fs::create_symlink(real + moduleFileName("nporvanta"), links + moduleFileName("nporvanta"));
    fs::create_symlink(Standin::modulePath(), real + moduleFileName("olpkcs11xsg"));
    // Beside the link sits a module without C_GetFunctionList, which would be refused.
    fs::copy_file(ORV_PLUGIN_DOUBLE_PATH, links + moduleFileName("olpkcs11xsg"));

    void* plugin = dlopen((links + moduleFileName("nporvanta")).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << dlerror();
    doubles_.push_back(plugin);
    ASSERT_EQ(loadedModulePath(moduleFileName("nporvanta")), links + moduleFileName("nporvanta"));

    std::string path;
    bool truncated = true;
    ownModulePath(moduleFileName("nporvanta"), path, truncated);
    EXPECT_EQ(path, real + moduleFileName("nporvanta"));
    EXPECT_FALSE(truncated);

    EXPECT_EQ(load(*a_), 0);
    EXPECT_EQ(standin().callsOf("C_Initialize"), 1u);
    EXPECT_TRUE(boxes_.boxes().empty());
    EXPECT_EQ(findLoadedModule(links + moduleFileName("olpkcs11xsg")), nullptr);
}

TEST_F(ModuleLoad, PluginModuleNamedOtherwiseFallsBackToTheExecutablesFolder) {
    // Loaded, but not under the plug-in's file name: the lookup does not find it, and the
    // vendor module comes from the test executable's folder, where the stand-in lives.
    loadPluginAs(folder() + "/" + moduleFileName("nporvanta-renamed"));
    ASSERT_EQ(fs::path(Standin::modulePath()).parent_path(),
              fs::read_symlink("/proc/self/exe").parent_path());
    EXPECT_EQ(load(*a_), 0);
    EXPECT_EQ(standin().callsOf("C_Initialize"), 1u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ModuleLoad, ModulePathMustFitTheBuffer) {
    // The folder (with its final separator) plus "olpkcs11xsg.so" and a terminator must fit
    // 256 characters: a 241-character folder fits, 242 does not.
    const std::string vendorName = moduleFileName("olpkcs11xsg");
    for (std::size_t folderLength : {kModulePathCapacity - 1 - vendorName.size(),
                                     kModulePathCapacity - vendorName.size()}) {
        SCOPED_TRACE(folderLength);
        const std::string dir = deepFolder(folder() + "/", folderLength);
        ASSERT_EQ(dir.size(), folderLength);
        ASSERT_EQ(dir.back(), '/');
        loadPluginAs(dir + moduleFileName("nporvanta"));
        fs::create_symlink(Standin::modulePath(), dir + vendorName);
        boxes_.clear();
        const std::int32_t status = load(*a_);
        if (folderLength + vendorName.size() + 1 <= kModulePathCapacity) {
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(boxes_.boxes().empty());
            p11UnloadModule(a_->pkcs11Module, a_->funcList);
            a_ = std::make_unique<TokenState>();
        } else {
            EXPECT_EQ(status, -50);
            char expected[64];
            std::snprintf(expected, sizeof expected, "Error loading pkcs11 library 0x%08X", ENAMETOOLONG);
            expectOneBox(expected, "Error");
            EXPECT_EQ(moduleLoadCount, 0);
        }
        for (void* m : doubles_)
            dlclose(m);
        doubles_.clear();
        for (const auto& entry : fs::directory_iterator(folder()))
            fs::remove_all(entry.path());
    }
}

} // namespace
