// "olvSign" as a page calls it - invoke through the NPClass of the plug-in's root object,
// which takes the PIN from the companion, logs in, finds the container's key, signs and
// logs out again - against the least a program talking to the token itself does for one
// signature: C_SignInit and C_Sign with a key already found on a session already logged
// in. Both run in one process on one SoftHSM token, through the same olpkcs11xsg stand-in
// (not recording), so the module and its forwarding cost the same on both sides; the ratio
// of the two is printed at the end.

#include "BenchPlugin.h"
#include "FakeNpapiBrowser.h"
#include "MedianKeeper.h"
#include "SoftHsmToken.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <p11-kit/pkcs11.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace {

using orv::test::FakeNpapiBrowser;
using orv::test::SoftHsmToken;

const char kContainer[] = "bench";
const char kHash[] = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";

FakeNpapiBrowser* g_browser = nullptr;
NPObject* g_root = nullptr;
CK_FUNCTION_LIST* g_token = nullptr; // the stand-in's list, the one the plug-in loaded

std::string lastException() {
    auto all = g_browser->exceptions();
    return all.empty() ? std::string("no exception") : all.back().message;
}

// A page call with text arguments; the result as the page would print it.
std::string call(const char* method, std::initializer_list<const char*> args) {
    NPVariant argv[2];
    uint32_t argc = 0;
    for (const char* arg : args)
        argv[argc++] = g_browser->stringVariant(arg);
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    const bool ok = g_root->_class->invoke(g_root, g_browser->stringId(method), argv, argc, &result);
    for (uint32_t i = 0; i < argc; ++i)
        g_browser->releaseValue(argv[i]);
    std::string text;
    if (!ok)
        text = "exception: " + lastException();
    else if (NPVARIANT_IS_STRING(result))
        text.assign(NPVARIANT_TO_STRING(result).UTF8Characters, NPVARIANT_TO_STRING(result).UTF8Length);
    else if (NPVARIANT_IS_INT32(result))
        text = std::to_string(NPVARIANT_TO_INT32(result));
    else if (NPVARIANT_IS_BOOLEAN(result))
        text = NPVARIANT_TO_BOOLEAN(result) ? "true" : "false";
    else if (NPVARIANT_IS_DOUBLE(result))
        text = std::to_string(static_cast<long long>(NPVARIANT_TO_DOUBLE(result)));
    else
        text = "another type";
    g_browser->releaseValue(result);
    return text;
}

bool isSignature(const std::string& text) {
    return text.size() == 128 && text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

void BM_BridgeOlvSign(benchmark::State& state) {
    NPVariant argv[2] = {g_browser->stringVariant(kContainer), g_browser->stringVariant(kHash)};
    const NPIdentifier olvSign = g_browser->stringId("olvSign");
    for (auto _ : state) {
        NPVariant result;
        VOID_TO_NPVARIANT(result);
        if (!g_root->_class->invoke(g_root, olvSign, argv, 2, &result) || !NPVARIANT_IS_STRING(result) ||
            NPVARIANT_TO_STRING(result).UTF8Length != 128) {
            state.SkipWithError(("olvSign failed: " + lastException()).c_str());
            break;
        }
        g_browser->releaseValue(result);
    }
    g_browser->releaseValue(argv[0]);
    g_browser->releaseValue(argv[1]);
}

// A session of the bench's own on the initialised token (SoftHSM shows a fresh empty token
// after it) and the container's private key; 0 and a skipped benchmark when either is missing.
CK_SESSION_HANDLE openSession(benchmark::State& state) {
    CK_SLOT_ID slots[8];
    CK_ULONG slotCount = 8;
    if (g_token->C_GetSlotList(CK_TRUE, slots, &slotCount) == CKR_OK) {
        for (CK_ULONG i = 0; i < slotCount; ++i) {
            CK_TOKEN_INFO info;
            CK_SESSION_HANDLE session = 0;
            if (g_token->C_GetTokenInfo(slots[i], &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED) &&
                g_token->C_OpenSession(slots[i], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) ==
                    CKR_OK)
                return session;
        }
    }
    state.SkipWithError("no session on the token");
    return 0;
}

CK_RV login(CK_SESSION_HANDLE session) {
    const CK_RV rv = g_token->C_Login(session, CKU_USER,
                                      reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(SoftHsmToken::kUserPin)),
                                      std::strlen(SoftHsmToken::kUserPin));
    return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
}

CK_OBJECT_HANDLE findKey(CK_SESSION_HANDLE session) {
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE find[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                           {CKA_ID, const_cast<char*>(kContainer), sizeof kContainer - 1}};
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    if (g_token->C_FindObjectsInit(session, find, 2) != CKR_OK)
        return 0;
    const CK_RV rv = g_token->C_FindObjects(session, &key, 1, &found);
    g_token->C_FindObjectsFinal(session);
    return rv == CKR_OK && found == 1 ? key : 0;
}

bool sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
    static const CK_BYTE* digest = reinterpret_cast<const CK_BYTE*>(kHash);
    CK_MECHANISM mechanism = {CKM_GOSTR3410, nullptr, 0};
    unsigned char signature[64];
    CK_ULONG length = sizeof signature;
    const bool ok = g_token->C_SignInit(session, &mechanism, key) == CKR_OK &&
                    g_token->C_Sign(session, const_cast<CK_BYTE*>(digest), 32, signature, &length) == CKR_OK &&
                    length == 64;
    benchmark::DoNotOptimize(signature);
    return ok;
}

// The least a program signing on the token itself does per signature.
void BM_DirectCSign(benchmark::State& state) {
    const CK_SESSION_HANDLE session = openSession(state);
    if (!session)
        return;
    const CK_OBJECT_HANDLE key = login(session) == CKR_OK ? findKey(session) : 0;
    if (!key)
        state.SkipWithError("no login, or the container's private key is not there");
    for (auto _ : state) {
        if (!key || !sign(session, key)) {
            state.SkipWithError("C_Sign failed");
            break;
        }
    }
    g_token->C_Logout(session);
    g_token->C_CloseSession(session);
}

// The token calls one "olvSign" has to make, since its login never outlives the call: log
// in, find the key, sign, log out. What the plug-in adds is the rest.
void BM_DirectLoginSignLogout(benchmark::State& state) {
    const CK_SESSION_HANDLE session = openSession(state);
    if (!session)
        return;
    for (auto _ : state) {
        CK_OBJECT_HANDLE key = 0;
        if (login(session) != CKR_OK || !(key = findKey(session)) || !sign(session, key) ||
            g_token->C_Logout(session) != CKR_OK) {
            state.SkipWithError("login, find, sign or logout failed");
            break;
        }
    }
    g_token->C_CloseSession(session);
}

BENCHMARK(BM_BridgeOlvSign)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectCSign)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectLoginSignLogout)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "npapi_sign_bench: %s\n", what.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    // The companion double answers SoftHsmToken's user PIN by default; no PIN program is
    // asked. The stand-in's record would grow with every call and cost the plug-in's side.
    setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
    setenv("ORVANTA_STANDIN_NO_RECORD", "1", 1);
    benchmark::Initialize(&argc, argv);
    try {
        SoftHsmToken token;
        if (!dlopen(ORV_COMPANION_PATH, RTLD_NOW | RTLD_LOCAL))
            fail(dlerror());
        // The plug-in takes its vendor module from its own folder: a copy of the built
        // plug-in beside the stand-in, as an installation has them.
        const std::filesystem::path folder = token.folder() + "/plugins";
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(ORV_NPORVANTA_PATH, folder / "nporvanta.so");
        std::filesystem::create_symlink(orv::test::Standin::modulePath(), folder / "olpkcs11xsg.so");
        // The bench's page is one the person allowed before; nobody is asked.
        const std::string origins = token.folder() + "/allowed-origins";
        if (std::FILE* list = std::fopen(origins.c_str(), "w")) {
            std::fputs("allow https://bench.orvanta.test\n", list);
            std::fclose(list);
        }
        setenv("ORVANTA_ALLOWED_ORIGINS", origins.c_str(), 1);
        setenv("ORVANTA_MACHINE_ALLOWED_ORIGINS", (token.folder() + "/no-machine-origins").c_str(), 1);

        FakeNpapiBrowser browser;
        browser.withLocation("https://bench.orvanta.test/sign.html");
        g_browser = &browser;
        BenchPlugin plugin(browser, (folder / "nporvanta.so").string(), true);
        g_root = plugin.root();

        std::string answer = call("olvIsTokenPresentAndOK", {});
        if (answer != "true")
            fail("olvIsTokenPresentAndOK answered " + answer);
        answer = call("olvGenKeyPair", {kContainer});
        if (answer.size() != 128)
            fail("olvGenKeyPair answered " + answer);
        answer = call("olvSign", {kContainer, kHash});
        if (!isSignature(answer))
            fail("olvSign answered " + answer);

        void* standin = dlopen((folder / "olpkcs11xsg.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        auto getList = standin ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(standin, "C_GetFunctionList")) : nullptr;
        if (!getList || getList(&g_token) != CKR_OK || !g_token)
            fail("the plug-in's vendor module is not the stand-in the bench loaded");

        MedianKeeper reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);

        dlclose(standin);

        const double bridge = reporter.median["BM_BridgeOlvSign"];
        const double direct = reporter.median["BM_DirectCSign"];
        if (bridge > 0 && direct > 0)
            std::printf("ratio vs direct C_Sign: %.2f\n", bridge / direct);
        const double sameCalls = reporter.median["BM_DirectLoginSignLogout"];
        if (bridge > 0 && sameCalls > 0)
            std::printf("ratio vs the same token calls made directly (login, find, sign, logout): %.2f\n",
                        bridge / sameCalls);
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return 0;
}
