// invoke("get_version") through the NPClass of the plug-in's root object (identifier
// lookup, argument and result conversions, the framework's dispatch), against a bare
// NPObject whose class answers the same string straight from its invoke. Both run against
// the same fake browser in one process; the ratio of the two is printed at the end.

#include "BenchPlugin.h"
#include "FakeNpapiBrowser.h"
#include "MedianKeeper.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

using orv::test::FakeNpapiBrowser;

FakeNpapiBrowser* g_browser = nullptr;
NPObject* g_root = nullptr;
NPObject* g_bare = nullptr;
NPIdentifier g_getVersion = nullptr;

// The hand-written object: one method, answering a copy of "1.1" in browser memory.
bool bareHasMethod(NPObject*, NPIdentifier name) { return name == g_getVersion; }
bool bareInvoke(NPObject*, NPIdentifier name, const NPVariant*, uint32_t argc, NPVariant* result) {
    if (name != g_getVersion || argc != 0)
        return false;
    static const char kVersion[] = "1.1";
    auto* text = static_cast<NPUTF8*>(g_browser->table()->memalloc(sizeof kVersion - 1));
    std::memcpy(text, kVersion, sizeof kVersion - 1);
    STRINGN_TO_NPVARIANT(text, sizeof kVersion - 1, *result);
    return true;
}
NPClass bareClass = {NP_CLASS_STRUCT_VERSION, nullptr, nullptr, nullptr, bareHasMethod, bareInvoke,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

std::string lastException() {
    auto all = g_browser->exceptions();
    return all.empty() ? std::string("no exception") : all.back().message;
}

void invokeGetVersion(benchmark::State& state, NPObject* obj) {
    for (auto _ : state) {
        NPVariant result;
        VOID_TO_NPVARIANT(result);
        if (!obj->_class->invoke(obj, g_getVersion, nullptr, 0, &result) || !NPVARIANT_IS_STRING(result)) {
            state.SkipWithError(("get_version failed: " + lastException()).c_str());
            break;
        }
        benchmark::DoNotOptimize(NPVARIANT_TO_STRING(result).UTF8Length);
        g_browser->table()->releasevariantvalue(&result);
    }
}

// What a browser does for obj.get_version() when the object does not call it a method
// (the bridge shows its methods as properties holding functions): the property read,
// then the function object's invokeDefault, then the function let go.
void BM_BridgeGetVersionAsPageResolvesIt(benchmark::State& state) {
    NPObject* obj = g_root;
    for (auto _ : state) {
        NPVariant result, method;
        VOID_TO_NPVARIANT(result);
        VOID_TO_NPVARIANT(method);
        if (obj->_class->hasMethod(obj, g_getVersion) || !obj->_class->hasProperty(obj, g_getVersion) ||
            !obj->_class->getProperty(obj, g_getVersion, &method) || !NPVARIANT_IS_OBJECT(method)) {
            state.SkipWithError("get_version is not a property holding a function");
            break;
        }
        NPObject* fn = NPVARIANT_TO_OBJECT(method);
        if (!fn->_class->invokeDefault(fn, nullptr, 0, &result) || !NPVARIANT_IS_STRING(result)) {
            state.SkipWithError(("get_version failed: " + lastException()).c_str());
            break;
        }
        benchmark::DoNotOptimize(NPVARIANT_TO_STRING(result).UTF8Length);
        g_browser->table()->releasevariantvalue(&result);
        g_browser->table()->releasevariantvalue(&method);
    }
}

void BM_BridgeGetVersion(benchmark::State& state) { invokeGetVersion(state, g_root); }
void BM_BareNpobjectGetVersion(benchmark::State& state) { invokeGetVersion(state, g_bare); }
BENCHMARK(BM_BridgeGetVersion)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_BareNpobjectGetVersion)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_BridgeGetVersionAsPageResolvesIt)->Repetitions(5)->ReportAggregatesOnly(true);

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "npapi_bridge_bench: %s\n", what.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
    benchmark::Initialize(&argc, argv);
    FakeNpapiBrowser browser;
    g_browser = &browser;
    MedianKeeper reporter;
    try {
        BenchPlugin plugin(browser, ORV_NPORVANTA_PATH, false);
        g_root = plugin.root();
        g_getVersion = browser.stringId("get_version");
        g_bare = browser.table()->createobject(plugin.npp(), &bareClass);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        browser.table()->releaseobject(g_bare);
    } catch (const std::exception& e) {
        fail(e.what());
    }

    const double bridge = reporter.median["BM_BridgeGetVersion"];
    const double bare = reporter.median["BM_BareNpobjectGetVersion"];
    if (bridge > 0 && bare > 0)
        std::printf("ratio vs bare npobject: %.2f\n", bridge / bare);
    const double resolved = reporter.median["BM_BridgeGetVersionAsPageResolvesIt"];
    if (resolved > 0 && bare > 0)
        std::printf("property read + invokeDefault, ratio vs bare npobject invoke: %.2f\n", resolved / bare);
    return 0;
}
