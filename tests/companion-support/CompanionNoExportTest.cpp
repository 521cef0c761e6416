// companion-noexport: installed, found by the plug-in's companion load, without the export.

#include "CompanionDouble.h"
#include "PlatformModule.h"
#include "pin/Companion.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using orv::test::CompanionDouble;
using orv::test::CompanionKind;

TEST(CompanionWithoutExport, IsFoundAndLacksShowPinCodeWindow)
{
    CompanionDouble companion = CompanionDouble::install(CompanionKind::WithoutExport);
    orv::ModuleHandle module = orv::loadCompanion("olvgui");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(orv::moduleSymbol(module, "ShowPinCodeWindow"), nullptr);
    EXPECT_NE(orv::moduleSymbol(module, "olvgui_double_kind"), nullptr);
    EXPECT_THROW(companion.calls(), std::logic_error);
}

} // namespace
