// The registry-script language as the server's two scripts use it, read without a registry.

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "RegistryScript.h"

using namespace FB::Atl;

namespace {

const RegNode* child(const std::vector<RegNode>& nodes, const std::string& name, bool isValue = false) {
    for (const RegNode& n : nodes)
        if (n.name == name && n.isValue == isValue)
            return &n;
    return nullptr;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

RegVariables moduleVariables(const std::string& module) {
    return {{"APPID", "{B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}"},
            {"Module", module},
            {"Module_Raw", module},
            {"LIBID", "{4E8D2A17-C6B3-4F90-A5E1-7B2D9C0F3A68}"},
            {"THREADING", "Apartment"}};
}

} // namespace

struct ExpandCase {
    const char* script;
    const char* expanded;  // null: an error is expected
};

TEST(RegistryScript, ExpandsVariablesCaseInsensitivelyAndPercentPairs) {
    RegVariables vars{{"Module", "C:\\it''s\\nporvanta.dll"}, {"APPID", "{X}"}};
    const ExpandCase cases[] = {
        {"'%MODULE%'", "'C:\\it''s\\nporvanta.dll'"},
        {"%module% %AppId%", "C:\\it''s\\nporvanta.dll {X}"},
        {"100%% sure", "100% sure"},
        {"%%%APPID%%%", "%{X}%"},
        {"%NOSUCH%", nullptr},
        {"50% off", nullptr},
    };
    for (const ExpandCase& c : cases) {
        std::string error;
        std::string out = expandRegistryVariables(c.script, vars, error);
        if (c.expanded) {
            EXPECT_EQ(out, c.expanded) << c.script;
            EXPECT_TRUE(error.empty()) << c.script << ": " << error;
        } else {
            EXPECT_FALSE(error.empty()) << c.script;
        }
    }
}

TEST(RegistryScript, ReadsKeywordsQuotesAndValueTypes) {
    RegScript s = parseRegistryScript(
        "HKEY_CLASSES_ROOT { noremove A { FORCEREMOVE 'B c' = S 'it''s' { VAL n = D '42' val e = d '' "
        "val x = d '0x20191' } delete Old 'x y' } } HKCU { K }",
        RegVariables());
    ASSERT_TRUE(s.ok()) << s.error;
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_EQ(s.roots[0].root, "HKCR");
    EXPECT_EQ(s.roots[1].root, "HKCU");
    const RegNode* a = child(s.roots[0].keys, "A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->flag, RegKeyFlag::NoRemove);
    EXPECT_FALSE(a->hasValue);
    const RegNode* b = child(a->children, "B c");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->flag, RegKeyFlag::ForceRemove);
    EXPECT_TRUE(b->hasValue);
    EXPECT_EQ(b->text, "it's");
    const RegNode* n = child(b->children, "n", true);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->type, 'd');
    EXPECT_EQ(n->dword, 42u);
    EXPECT_EQ(child(b->children, "e", true)->dword, 0u);
    EXPECT_EQ(child(b->children, "x", true)->dword, 0x20191u);
    ASSERT_NE(child(a->children, "Old"), nullptr);
    EXPECT_EQ(child(a->children, "Old")->flag, RegKeyFlag::Delete);
    const RegNode* xy = child(a->children, "x y");
    ASSERT_NE(xy, nullptr);
    EXPECT_EQ(xy->flag, RegKeyFlag::None);
    ASSERT_NE(child(s.roots[1].keys, "K"), nullptr);
}

TEST(RegistryScript, MalformedScriptsAreErrorsWithAMessage) {
    const char* const bad[] = {
        "HKCR { A = s 'unterminated }",
        "HKCR { A { }",
        "HKXX { A }",
        "HKCR { A = q 'x' }",
        "HKCR { A = s }",
        "HKCR { val A }",
        "HKCR { val A = s 'x' { B } }",
        "HKCR { A = d 'twelve' }",
        "HKCR { = s 'x' }",
        "HKCR",
    };
    for (const char* script : bad) {
        RegScript s = parseRegistryScript(script, RegVariables());
        EXPECT_FALSE(s.ok()) << script;
        EXPECT_TRUE(s.roots.empty()) << script;
    }
}

// The shipped control script: a module path with a quote comes back with one quote.
TEST(RegistryScript, ControlScriptReadsWithTheModulePath) {
    RegScript s = parseRegistryScript(readFile(ORV_FBCONTROL_RGS), moduleVariables("C:\\it''s\\nporvanta.dll"));
    ASSERT_TRUE(s.ok()) << s.error;
    ASSERT_EQ(s.roots.size(), 2u);
    const RegNode* clsidRoot = child(s.roots[0].keys, "CLSID");
    ASSERT_NE(clsidRoot, nullptr);
    EXPECT_EQ(clsidRoot->flag, RegKeyFlag::NoRemove);
    const RegNode* clsid = child(clsidRoot->children, "{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}");
    ASSERT_NE(clsid, nullptr);
    EXPECT_EQ(clsid->flag, RegKeyFlag::ForceRemove);
    const RegNode* server = child(clsid->children, "InprocServer32");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->text, "C:\\it's\\nporvanta.dll");
    EXPECT_EQ(child(server->children, "ThreadingModel", true)->text, "Apartment");
    EXPECT_EQ(child(clsid->children, "TypeLib")->text, "{4E8D2A17-C6B3-4F90-A5E1-7B2D9C0F3A68}");
    EXPECT_EQ(child(child(clsid->children, "MiscStatus")->children, "1")->text, "131473");
    const RegNode* mime = child(s.roots[0].keys, "MIME");
    const RegNode* type = child(child(child(mime->children, "Database")->children, "Content Type")->children,
                                "application/x-orvanta");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->flag, RegKeyFlag::None);
    EXPECT_EQ(child(type->children, "Extension", true)->text, "");
}

TEST(RegistryScript, AppIdScriptReads) {
    RegScript s = parseRegistryScript(readFile(ORV_PLUGINWIN_RGS), moduleVariables("C:\\nporvanta.dll"));
    ASSERT_TRUE(s.ok()) << s.error;
    const RegNode* appId = child(s.roots.at(0).keys, "AppID");
    ASSERT_NE(appId, nullptr);
    EXPECT_EQ(appId->flag, RegKeyFlag::NoRemove);
    EXPECT_EQ(child(appId->children, "{B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}")->text, "PluginWin");
    EXPECT_EQ(child(child(appId->children, "nporvanta.dll")->children, "AppID", true)->text,
              "{B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}");
}
