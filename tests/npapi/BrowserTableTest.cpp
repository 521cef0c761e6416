// The module's copy of the browser table: which entries a browser of each version and
// table size really has.

#include "FakeNpapiBrowser.h"
#include "NpapiPluginModule.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>

using FB::Npapi::NpapiPluginModule;
using orv::test::FakeNpapiBrowser;

namespace {

#define END_OF(entry) static_cast<uint16_t>(offsetof(NPNetscapeFuncs, entry) + sizeof(void*))

struct TableCase {
    const char* name;
    uint16_t version;
    uint16_t size;
    bool popups, enumerate, asyncCall, construct, timers, setException;
};

const TableCase kTables[] = {
    {"version 13, full table", 13, sizeof(NPNetscapeFuncs), false, false, false, false, false, true},
    {"version 16: popup state", 16, sizeof(NPNetscapeFuncs), true, false, false, false, false, true},
    {"version 18: enumerate, no thread hand-over", 18, sizeof(NPNetscapeFuncs), true, true, false, false, false, true},
    {"version 19: thread hand-over and construct", 19, sizeof(NPNetscapeFuncs), true, true, true, true, false, true},
    {"version 23: timers", 23, sizeof(NPNetscapeFuncs), true, true, true, true, true, true},
    {"version 26 as WebKit gives it", 26, FakeNpapiBrowser::kVersion26Size, true, true, true, true, true, true},
    {"version 26 table ending before the thread hand-over", 26, END_OF(enumerate), true, true, false, false, false, true},
    {"version 19 table ending inside the thread hand-over entry", 19, END_OF(enumerate) + 2, true, true, false, false,
     false, true},
    {"version 26 table ending before setexception", 26, END_OF(releasevariantvalue), false, false, false, false, false,
     false},
    {"table of its header only", 26, 4, false, false, false, false, false, false},
};

class BrowserTable : public ::testing::TestWithParam<TableCase> {};

} // namespace

TEST_P(BrowserTable, CopiesTheEntriesTheBrowserHas) {
    const TableCase& c = GetParam();
    FakeNpapiBrowser browser(c.version, c.size);
    NpapiPluginModule module;
    module.setNetscapeFuncs(browser.table());
    const NPNetscapeFuncs& copy = module.netscapeFuncs();
    const NPNetscapeFuncs& from = *browser.table();

    EXPECT_EQ(copy.version, c.version);
    EXPECT_EQ(copy.size, c.size);
    EXPECT_EQ(copy.pushpopupsenabledstate != nullptr, c.popups);
    EXPECT_EQ(copy.poppopupsenabledstate != nullptr, c.popups);
    EXPECT_EQ(copy.enumerate != nullptr, c.enumerate);
    EXPECT_EQ(copy.pluginthreadasynccall != nullptr, c.asyncCall);
    EXPECT_EQ(copy.construct != nullptr, c.construct);
    EXPECT_EQ(copy.scheduletimer != nullptr, c.timers);
    EXPECT_EQ(copy.unscheduletimer != nullptr, c.timers);
    EXPECT_EQ(copy.setexception != nullptr, c.setException);
    // What is copied is the browser's own entry.
    if (c.asyncCall) {
        EXPECT_EQ(copy.pluginthreadasynccall, from.pluginthreadasynccall);
    }
    if (c.setException) {
        EXPECT_EQ(copy.setexception, from.setexception);
    }
    // Never used, never copied.
    EXPECT_EQ(copy.getJavaEnv, nullptr);
    EXPECT_EQ(copy.getJavaPeer, nullptr);
    // Past every version rule: entries the framework does not use stay null.
    EXPECT_EQ(copy.getvalueforurl, nullptr);
    EXPECT_EQ(copy.urlredirectresponse, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Versions, BrowserTable, ::testing::ValuesIn(kTables),
                         [](const ::testing::TestParamInfo<TableCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST(BrowserTableCopy, NoTableLeavesEveryEntryNull) {
    NPNetscapeFuncs copy;
    std::memset(&copy, 0xAB, sizeof(copy));
    NpapiPluginModule::copyNetscapeFuncs(nullptr, copy);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&copy);
    for (size_t i = 0; i < sizeof(copy); ++i)
        ASSERT_EQ(bytes[i], 0u) << "byte " << i;
}
