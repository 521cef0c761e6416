// olpkcs11xsg.so for tests: a PKCS#11 module that forwards to a real one (SoftHSM),
// records what it receives and injects the faults a test configures. See StandinControl.h.
//
// Only C_GetFunctionList and the standin_* control functions are exported; the module's
// own entry points are reached through the function list, as a real vendor module's are.

#include "StandinControl.h"

#include <p11-kit/pkcs11.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// SoftHSM refuses a GOST key pair without a digest parameter set in the public template
// and with a signature parameter set in the private one; the vendor's module does not.
const unsigned char kGostR3411Params[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};

const unsigned char kFiller = 0x5A; // bytes beyond a real value when a length is oversized
const CK_SLOT_ID kFabricatedSlotBase = 0x7E000000; // slot ids beyond the target's own

struct Attr {
    CK_ATTRIBUTE_TYPE type = 0;
    CK_ULONG length = 0;
    bool hasValue = false;
    std::vector<unsigned char> value;
};

struct Call {
    const char* name = "";
    CK_RV rv = CKR_OK;
    bool forwarded = false;
    std::vector<std::pair<std::string, unsigned long>> args;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> bytes;
    std::vector<std::pair<std::string, std::vector<Attr>>> templates;
};

struct Fault {
    std::string function;
    unsigned remaining = 0; // calls to go before it fires; 0 = every call
    CK_RV rv = CKR_OK;
};

struct State {
    std::mutex mutex;
    std::deque<Call> calls; // a deque keeps element addresses stable while it grows
    std::vector<Fault> faults;
    std::vector<std::pair<std::string, CK_ULONG>> overrides;
    unsigned generation = 0; // bumped by reset, so a call in flight stops recording

    std::string explicitTarget;
    bool hasExplicitTarget = false;
    std::string effectiveTarget; // storage for standin_target()
    std::string loadedPath;
    CK_FUNCTION_LIST* target = nullptr;
    bool targetInitialized = false;
    bool exitHandlerInstalled = false;
    std::set<CK_SESSION_HANDLE> openSessions;
};

State& state()
{
    static State* s = new State; // never destroyed: exit handlers may still use it
    return *s;
}

std::string targetPath_locked(State& s)
{
    if (s.hasExplicitTarget)
        return s.explicitTarget;
    const char* env = std::getenv(STANDIN_TARGET_ENV);
    return env ? std::string(env) : std::string();
}

// The target's function list, loading the module on first use. Null when there is none.
CK_FUNCTION_LIST* target()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string path = targetPath_locked(s);
    if (s.target && (path == s.loadedPath || s.targetInitialized))
        return s.target;
    if (path.empty()) {
        std::fprintf(stderr, "olpkcs11xsg stand-in: no target module (set %s)\n", STANDIN_TARGET_ENV);
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "olpkcs11xsg stand-in: cannot load %s: %s\n", path.c_str(), dlerror());
        return nullptr;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
    CK_FUNCTION_LIST* list = nullptr;
    if (!getList || getList(&list) != CKR_OK || !list) {
        std::fprintf(stderr, "olpkcs11xsg stand-in: %s gives no function list\n", path.c_str());
        return nullptr;
    }
    // The module stays loaded for the life of the process: unloading SoftHSM is not safe.
    s.target = list;
    s.loadedPath = path;
    return list;
}

CK_ULONG* override_locked(State& s, const char* what)
{
    for (auto& o : s.overrides)
        if (o.first == what)
            return &o.second;
    return nullptr;
}

bool overridden(const char* what, CK_ULONG& length)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    CK_ULONG* value = override_locked(s, what);
    if (value)
        length = *value;
    return value != nullptr;
}

std::vector<Attr> copyTemplate(CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, bool keepValues)
{
    std::vector<Attr> out;
    if (!tmpl)
        return out;
    for (CK_ULONG i = 0; i < count; ++i) {
        Attr a;
        a.type = tmpl[i].type;
        a.length = tmpl[i].ulValueLen;
        if (keepValues && tmpl[i].pValue) {
            auto* p = static_cast<const unsigned char*>(tmpl[i].pValue);
            a.hasValue = true;
            a.value.assign(p, p + tmpl[i].ulValueLen);
        }
        out.push_back(std::move(a));
    }
    return out;
}

// With STANDIN_LOG_ENV set, every received call is also appended to that file as
// "<pid> <name>", so a test can see the calls of a process it did not start itself.
void logCall(const char* name)
{
    const char* path = std::getenv(STANDIN_LOG_ENV);
    if (!path || !*path)
        return;
    char line[128];
    const int length = std::snprintf(line, sizeof line, "%ld %s\n", static_cast<long>(getpid()), name);
    if (length <= 0)
        return;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // One write of a short line under O_APPEND: lines of several processes never mix.
    ssize_t written = write(fd, line, std::min(static_cast<size_t>(length), sizeof line - 1));
    (void)written;
    close(fd);
}

bool keepCalls()
{
    static const bool keep = [] {
        const char* off = std::getenv(STANDIN_NO_RECORD_ENV);
        return !(off && std::strcmp(off, "1") == 0);
    }();
    return keep;
}

// One received call: recorded on construction, its fault decided there too.
class Recorder {
public:
    explicit Recorder(const char* name)
    {
        logCall(name);
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        generation_ = s.generation;
        if (keepCalls()) {
            s.calls.emplace_back();
            call_ = &s.calls.back();
            call_->name = name;
        }
        for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
            if (it->function != name)
                continue;
            if (it->remaining == 0) {
                faulted_ = true;
                faultRv_ = it->rv;
                break;
            }
            if (--it->remaining == 0) {
                faulted_ = true;
                faultRv_ = it->rv;
                s.faults.erase(it);
                break;
            }
        }
    }

    bool faulted() const { return faulted_; }

    // The injected rv, recorded as the call's answer.
    CK_RV fault()
    {
        with([&](Call& c) { c.rv = faultRv_; });
        return faultRv_;
    }

    void arg(const char* name, unsigned long value)
    {
        with([&](Call& c) { c.args.emplace_back(name, value); });
    }

    void bytes(const char* name, const void* data, size_t length)
    {
        if (!data)
            return;
        auto* p = static_cast<const unsigned char*>(data);
        with([&](Call& c) { c.bytes.emplace_back(name, std::vector<unsigned char>(p, p + length)); });
    }

    void attributes(const char* name, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, bool keepValues)
    {
        std::vector<Attr> copy = copyTemplate(tmpl, count, keepValues);
        with([&](Call& c) { c.templates.emplace_back(name, std::move(copy)); });
    }

    // The target's answer (or ours, when the stand-in shaped it).
    CK_RV done(CK_RV rv, bool forwarded = true)
    {
        with([&](Call& c) {
            c.rv = rv;
            c.forwarded = forwarded;
        });
        return rv;
    }

private:
    template <typename F> void with(F f)
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (call_ && s.generation == generation_)
            f(*call_);
    }

    Call* call_ = nullptr;
    unsigned generation_ = 0;
    bool faulted_ = false;
    CK_RV faultRv_ = CKR_OK;
};

// Every entry point opens with STANDIN_BEGIN (records the call), records its arguments,
// then STANDIN_TARGET_OR_FAIL answers an injected fault or finds the target.
#define STANDIN_BEGIN(name) Recorder rec(name);

#define STANDIN_TARGET_OR_FAIL()                                                           \
    if (rec.faulted())                                                                     \
        return rec.fault();                                                                \
    CK_FUNCTION_LIST* t = target();                                                        \
    if (!t)                                                                                \
        return rec.done(CKR_GENERAL_ERROR, false);

void finalizeAtExit()
{
    standin_finalize_target();
}

// ---- Calls that tests look at closely ----

CK_RV st_Initialize(CK_VOID_PTR args)
{
    STANDIN_BEGIN("C_Initialize")
    rec.arg("argsNull", args == nullptr);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_Initialize(args);
    if (rv == CKR_OK) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.targetInitialized = true;
        s.openSessions.clear();
        // Registered after the target's own static objects, so it runs before they go.
        if (!s.exitHandlerInstalled) {
            s.exitHandlerInstalled = true;
            std::atexit(finalizeAtExit);
        }
    }
    return rec.done(rv);
}

CK_RV st_Finalize(CK_VOID_PTR reserved)
{
    STANDIN_BEGIN("C_Finalize")
    rec.arg("argsNull", reserved == nullptr);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_Finalize(reserved);
    if (rv == CKR_OK) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.targetInitialized = false;
        s.openSessions.clear();
    }
    return rec.done(rv);
}

CK_RV st_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count)
{
    STANDIN_BEGIN("C_GetSlotList")
    rec.arg("tokenPresent", tokenPresent);
    rec.arg("listNull", list == nullptr);
    if (count)
        rec.arg("count", *count);
    STANDIN_TARGET_OR_FAIL()
    CK_ULONG slots = 0;
    if (!count || !overridden(STANDIN_SLOT_COUNT, slots)) {
        CK_RV rv = t->C_GetSlotList(tokenPresent, list, count);
        if (rv == CKR_OK && count)
            rec.arg("countOut", *count);
        return rec.done(rv);
    }
    // A module with `slots` tokens: the target's slots first, then made-up ones.
    CK_ULONG real = 0;
    CK_RV rv = t->C_GetSlotList(tokenPresent, nullptr, &real);
    std::vector<CK_SLOT_ID> ids(real);
    if (rv == CKR_OK && real)
        rv = t->C_GetSlotList(tokenPresent, ids.data(), &real);
    if (rv != CKR_OK)
        return rec.done(rv);
    ids.resize(real);
    if (list) {
        if (*count < slots) {
            *count = slots;
            return rec.done(CKR_BUFFER_TOO_SMALL, false);
        }
        for (CK_ULONG i = 0; i < slots; ++i)
            list[i] = i < ids.size() ? ids[i] : kFabricatedSlotBase + i;
    }
    *count = slots;
    rec.arg("countOut", slots);
    return rec.done(CKR_OK, false);
}

CK_RV st_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info)
{
    STANDIN_BEGIN("C_GetSlotInfo")
    rec.arg("slot", slot);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_GetSlotInfo(slot, info);
    if (rv == CKR_OK && info)
        rec.arg("flagsOut", info->flags);
    return rec.done(rv);
}

CK_RV st_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                     CK_SESSION_HANDLE_PTR session)
{
    STANDIN_BEGIN("C_OpenSession")
    rec.arg("slot", slot);
    rec.arg("flags", flags);
    rec.arg("applicationNull", application == nullptr);
    rec.arg("notifyNull", notify == nullptr);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_OpenSession(slot, flags, application, notify, session);
    if (rv == CKR_OK && session) {
        rec.arg("sessionOut", *session);
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.openSessions.insert(*session);
    }
    return rec.done(rv);
}

CK_RV st_CloseSession(CK_SESSION_HANDLE session)
{
    STANDIN_BEGIN("C_CloseSession")
    rec.arg("session", session);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_CloseSession(session);
    if (rv == CKR_OK) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.openSessions.erase(session);
    }
    return rec.done(rv);
}

CK_RV st_CloseAllSessions(CK_SLOT_ID slot)
{
    STANDIN_BEGIN("C_CloseAllSessions")
    rec.arg("slot", slot);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_CloseAllSessions(slot);
    if (rv == CKR_OK) {
        // Which of them belonged to the slot is the target's business; ask it.
        State& s = state();
        std::vector<CK_SESSION_HANDLE> known;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            known.assign(s.openSessions.begin(), s.openSessions.end());
        }
        for (CK_SESSION_HANDLE h : known) {
            CK_SESSION_INFO info;
            if (t->C_GetSessionInfo(h, &info) == CKR_SESSION_HANDLE_INVALID) {
                std::lock_guard<std::mutex> lock(s.mutex);
                s.openSessions.erase(h);
            }
        }
    }
    return rec.done(rv);
}

CK_RV st_GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info)
{
    STANDIN_BEGIN("C_GetSessionInfo")
    rec.arg("session", session);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_GetSessionInfo(session, info);
    if (rv == CKR_OK && info)
        rec.arg("stateOut", info->state);
    return rec.done(rv);
}

CK_RV st_Login(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength)
{
    STANDIN_BEGIN("C_Login")
    rec.arg("session", session);
    rec.arg("userType", userType);
    rec.arg("pinLength", pinLength);
    rec.arg("pinNull", pin == nullptr);
    rec.bytes("pin", pin, pinLength);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_Login(session, userType, pin, pinLength));
}

CK_RV st_FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count)
{
    STANDIN_BEGIN("C_FindObjectsInit")
    rec.arg("session", session);
    rec.attributes("template", tmpl, count, true);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_FindObjectsInit(session, tmpl, count));
}

CK_RV st_FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount,
                     CK_ULONG_PTR count)
{
    STANDIN_BEGIN("C_FindObjects")
    rec.arg("session", session);
    rec.arg("maxCount", maxCount);
    STANDIN_TARGET_OR_FAIL()
    CK_RV rv = t->C_FindObjects(session, objects, maxCount, count);
    if (rv == CKR_OK && count)
        rec.arg("countOut", *count);
    return rec.done(rv);
}

// Writes `want` bytes of `real` into an attribute the caller sized; filler past the real ones.
void fillOversized(CK_ATTRIBUTE& attr, const std::vector<unsigned char>& real, CK_ULONG want)
{
    auto* out = static_cast<unsigned char*>(attr.pValue);
    CK_ULONG copied = std::min<CK_ULONG>(want, real.size());
    if (copied)
        std::memcpy(out, real.data(), copied);
    for (CK_ULONG i = copied; i < want; ++i)
        out[i] = kFiller;
    attr.ulValueLen = want;
}

CK_RV st_GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR tmpl,
                           CK_ULONG count)
{
    STANDIN_BEGIN("C_GetAttributeValue")
    rec.arg("session", session);
    rec.arg("object", object);
    bool valuesNull = true;
    for (CK_ULONG i = 0; tmpl && i < count; ++i)
        valuesNull = valuesNull && tmpl[i].pValue == nullptr;
    rec.arg("valuesNull", valuesNull);
    rec.attributes("template", tmpl, count, false);
    STANDIN_TARGET_OR_FAIL()

    // Which attributes get a made-up length, and that length.
    std::vector<std::pair<CK_ULONG, CK_ULONG>> shaped; // index, length
    for (CK_ULONG i = 0; tmpl && i < count; ++i) {
        CK_ULONG want = 0;
        if ((tmpl[i].type == CKA_ID && overridden(STANDIN_CKA_ID, want)) ||
            (tmpl[i].type == CKA_VALUE && overridden(STANDIN_CKA_VALUE, want)))
            shaped.emplace_back(i, want);
    }
    if (shaped.empty())
        return rec.done(t->C_GetAttributeValue(session, object, tmpl, count));

    // The others go to the target as they are; the shaped ones are read on the side.
    std::vector<CK_ATTRIBUTE> forward(tmpl, tmpl + count);
    for (auto& sh : shaped) {
        forward[sh.first].pValue = nullptr;
        forward[sh.first].ulValueLen = 0;
    }
    CK_RV rv = t->C_GetAttributeValue(session, object, forward.data(), count);
    if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL && rv != CKR_ATTRIBUTE_SENSITIVE &&
        rv != CKR_ATTRIBUTE_TYPE_INVALID)
        return rec.done(rv);
    for (CK_ULONG i = 0; i < count; ++i) {
        bool isShaped = std::any_of(shaped.begin(), shaped.end(),
                                    [&](const std::pair<CK_ULONG, CK_ULONG>& sh) { return sh.first == i; });
        if (!isShaped)
            tmpl[i].ulValueLen = forward[i].ulValueLen;
    }
    for (auto& sh : shaped) {
        CK_ATTRIBUTE& attr = tmpl[sh.first];
        CK_ULONG realLength = forward[sh.first].ulValueLen;
        if (realLength == CK_UNAVAILABLE_INFORMATION) {
            attr.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            continue;
        }
        if (!attr.pValue) {
            attr.ulValueLen = sh.second;
            continue;
        }
        if (attr.ulValueLen < sh.second) {
            attr.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK)
                rv = CKR_BUFFER_TOO_SMALL;
            continue;
        }
        std::vector<unsigned char> real(realLength);
        CK_ATTRIBUTE side = {attr.type, real.data(), realLength};
        CK_RV sideRv = t->C_GetAttributeValue(session, object, &side, 1);
        if (sideRv != CKR_OK)
            return rec.done(sideRv);
        fillOversized(attr, real, sh.second);
    }
    return rec.done(rv, false);
}

CK_RV st_SignInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key)
{
    STANDIN_BEGIN("C_SignInit")
    rec.arg("session", session);
    if (mechanism) {
        rec.arg("mechanism", mechanism->mechanism);
        rec.bytes("parameter", mechanism->pParameter, mechanism->ulParameterLen);
    }
    rec.arg("key", key);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_SignInit(session, mechanism, key));
}

CK_RV st_Sign(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
              CK_ULONG_PTR signatureLength)
{
    STANDIN_BEGIN("C_Sign")
    rec.arg("session", session);
    rec.arg("dataLength", dataLength);
    rec.bytes("data", data, dataLength);
    rec.arg("signatureNull", signature == nullptr);
    if (signatureLength)
        rec.arg("signatureLength", *signatureLength);
    STANDIN_TARGET_OR_FAIL()
    CK_ULONG want = 0;
    if (!signatureLength || !overridden(STANDIN_SIGNATURE, want)) {
        CK_RV rv = t->C_Sign(session, data, dataLength, signature, signatureLength);
        if (rv == CKR_OK && signatureLength)
            rec.arg("signatureLengthOut", *signatureLength);
        return rec.done(rv);
    }
    // A module with `want`-byte signatures. The length query and a short buffer leave the
    // operation active, as PKCS#11 says.
    if (!signature || *signatureLength < want) {
        CK_ULONG realLength = 0;
        CK_RV rv = t->C_Sign(session, data, dataLength, nullptr, &realLength);
        if (rv != CKR_OK)
            return rec.done(rv);
        *signatureLength = want;
        rec.arg("signatureLengthOut", want);
        return rec.done(signature ? CKR_BUFFER_TOO_SMALL : CKR_OK, false);
    }
    CK_ULONG realLength = 0;
    CK_RV rv = t->C_Sign(session, data, dataLength, nullptr, &realLength);
    if (rv != CKR_OK)
        return rec.done(rv);
    std::vector<unsigned char> real(realLength);
    rv = t->C_Sign(session, data, dataLength, real.data(), &realLength);
    if (rv != CKR_OK)
        return rec.done(rv);
    real.resize(realLength);
    CK_ULONG copied = std::min<CK_ULONG>(want, real.size());
    if (copied)
        std::memcpy(signature, real.data(), copied);
    for (CK_ULONG i = copied; i < want; ++i)
        signature[i] = kFiller;
    *signatureLength = want;
    rec.arg("signatureLengthOut", want);
    return rec.done(CKR_OK, false);
}

CK_RV st_DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
{
    STANDIN_BEGIN("C_DestroyObject")
    rec.arg("session", session);
    rec.arg("object", object);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_DestroyObject(session, object));
}

CK_RV st_GenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR pubTmpl,
                         CK_ULONG pubCount, CK_ATTRIBUTE_PTR privTmpl, CK_ULONG privCount,
                         CK_OBJECT_HANDLE_PTR pubKey, CK_OBJECT_HANDLE_PTR privKey)
{
    STANDIN_BEGIN("C_GenerateKeyPair")
    rec.arg("session", session);
    if (mechanism) {
        rec.arg("mechanism", mechanism->mechanism);
        rec.bytes("parameter", mechanism->pParameter, mechanism->ulParameterLen);
    }
    rec.attributes("public", pubTmpl, pubCount, true);
    rec.attributes("private", privTmpl, privCount, true);
    STANDIN_TARGET_OR_FAIL()

    std::vector<CK_ATTRIBUTE> pub(pubTmpl, pubTmpl ? pubTmpl + pubCount : pubTmpl);
    std::vector<CK_ATTRIBUTE> priv;
    if (mechanism && mechanism->mechanism == CKM_GOSTR3410_KEY_PAIR_GEN) {
        bool hasDigestParams = std::any_of(pub.begin(), pub.end(), [](const CK_ATTRIBUTE& a) {
            return a.type == CKA_GOSTR3411_PARAMS;
        });
        if (!hasDigestParams)
            pub.push_back({CKA_GOSTR3411_PARAMS, const_cast<unsigned char*>(kGostR3411Params),
                           sizeof kGostR3411Params});
        for (CK_ULONG i = 0; privTmpl && i < privCount; ++i)
            if (privTmpl[i].type != CKA_GOSTR3410_PARAMS)
                priv.push_back(privTmpl[i]);
    } else if (privTmpl) {
        priv.assign(privTmpl, privTmpl + privCount);
    }
    CK_RV rv = t->C_GenerateKeyPair(session, mechanism, pub.empty() ? nullptr : pub.data(), pub.size(),
                                    priv.empty() ? nullptr : priv.data(), priv.size(), pubKey, privKey);
    if (rv == CKR_OK) {
        if (pubKey)
            rec.arg("publicKeyOut", *pubKey);
        if (privKey)
            rec.arg("privateKeyOut", *privKey);
    }
    return rec.done(rv);
}

CK_RV st_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info)
{
    STANDIN_BEGIN("C_GetTokenInfo")
    rec.arg("slot", slot);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_GetTokenInfo(slot, info));
}

CK_RV st_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count)
{
    STANDIN_BEGIN("C_GetMechanismList")
    rec.arg("slot", slot);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_GetMechanismList(slot, list, count));
}

CK_RV st_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info)
{
    STANDIN_BEGIN("C_GetMechanismInfo")
    rec.arg("slot", slot);
    rec.arg("mechanism", type);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_GetMechanismInfo(slot, type, info));
}

CK_RV st_GetInfo(CK_INFO_PTR info)
{
    STANDIN_BEGIN("C_GetInfo")
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_GetInfo(info));
}

CK_RV st_InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength, CK_UTF8CHAR_PTR label)
{
    STANDIN_BEGIN("C_InitToken")
    rec.arg("slot", slot);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_InitToken(slot, pin, pinLength, label));
}

CK_RV st_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot, CK_VOID_PTR reserved)
{
    STANDIN_BEGIN("C_WaitForSlotEvent")
    rec.arg("flags", flags);
    STANDIN_TARGET_OR_FAIL()
    return rec.done(t->C_WaitForSlotEvent(flags, slot, reserved));
}

// ---- Every other call on a session: recorded by name and session, then forwarded ----

#define STANDIN_FORWARD_SESSION(fn, ...)                                                    \
    template <typename... A> CK_RV st_##fn(CK_SESSION_HANDLE session, A... args)             \
    {                                                                                       \
        STANDIN_BEGIN("C_" #fn)                                                             \
        rec.arg("session", session);                                                        \
        STANDIN_TARGET_OR_FAIL()                                                            \
        return rec.done(t->C_##fn(session, args...));                                       \
    }

STANDIN_FORWARD_SESSION(InitPIN)
STANDIN_FORWARD_SESSION(SetPIN)
STANDIN_FORWARD_SESSION(GetOperationState)
STANDIN_FORWARD_SESSION(SetOperationState)
STANDIN_FORWARD_SESSION(Logout)
STANDIN_FORWARD_SESSION(CreateObject)
STANDIN_FORWARD_SESSION(CopyObject)
STANDIN_FORWARD_SESSION(GetObjectSize)
STANDIN_FORWARD_SESSION(SetAttributeValue)
STANDIN_FORWARD_SESSION(FindObjectsFinal)
STANDIN_FORWARD_SESSION(EncryptInit)
STANDIN_FORWARD_SESSION(Encrypt)
STANDIN_FORWARD_SESSION(EncryptUpdate)
STANDIN_FORWARD_SESSION(EncryptFinal)
STANDIN_FORWARD_SESSION(DecryptInit)
STANDIN_FORWARD_SESSION(Decrypt)
STANDIN_FORWARD_SESSION(DecryptUpdate)
STANDIN_FORWARD_SESSION(DecryptFinal)
STANDIN_FORWARD_SESSION(DigestInit)
STANDIN_FORWARD_SESSION(Digest)
STANDIN_FORWARD_SESSION(DigestUpdate)
STANDIN_FORWARD_SESSION(DigestKey)
STANDIN_FORWARD_SESSION(DigestFinal)
STANDIN_FORWARD_SESSION(SignUpdate)
STANDIN_FORWARD_SESSION(SignFinal)
STANDIN_FORWARD_SESSION(SignRecoverInit)
STANDIN_FORWARD_SESSION(SignRecover)
STANDIN_FORWARD_SESSION(VerifyInit)
STANDIN_FORWARD_SESSION(Verify)
STANDIN_FORWARD_SESSION(VerifyUpdate)
STANDIN_FORWARD_SESSION(VerifyFinal)
STANDIN_FORWARD_SESSION(VerifyRecoverInit)
STANDIN_FORWARD_SESSION(VerifyRecover)
STANDIN_FORWARD_SESSION(DigestEncryptUpdate)
STANDIN_FORWARD_SESSION(DecryptDigestUpdate)
STANDIN_FORWARD_SESSION(SignEncryptUpdate)
STANDIN_FORWARD_SESSION(DecryptVerifyUpdate)
STANDIN_FORWARD_SESSION(GenerateKey)
STANDIN_FORWARD_SESSION(WrapKey)
STANDIN_FORWARD_SESSION(UnwrapKey)
STANDIN_FORWARD_SESSION(DeriveKey)
STANDIN_FORWARD_SESSION(SeedRandom)
STANDIN_FORWARD_SESSION(GenerateRandom)
STANDIN_FORWARD_SESSION(GetFunctionStatus)
STANDIN_FORWARD_SESSION(CancelFunction)

CK_RV st_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

CK_FUNCTION_LIST functionList = {
    {2, 20},
    st_Initialize,
    st_Finalize,
    st_GetInfo,
    st_GetFunctionList,
    st_GetSlotList,
    st_GetSlotInfo,
    st_GetTokenInfo,
    st_GetMechanismList,
    st_GetMechanismInfo,
    st_InitToken,
    st_InitPIN,
    st_SetPIN,
    st_OpenSession,
    st_CloseSession,
    st_CloseAllSessions,
    st_GetSessionInfo,
    st_GetOperationState,
    st_SetOperationState,
    st_Login,
    st_Logout,
    st_CreateObject,
    st_CopyObject,
    st_DestroyObject,
    st_GetObjectSize,
    st_GetAttributeValue,
    st_SetAttributeValue,
    st_FindObjectsInit,
    st_FindObjects,
    st_FindObjectsFinal,
    st_EncryptInit,
    st_Encrypt,
    st_EncryptUpdate,
    st_EncryptFinal,
    st_DecryptInit,
    st_Decrypt,
    st_DecryptUpdate,
    st_DecryptFinal,
    st_DigestInit,
    st_Digest,
    st_DigestUpdate,
    st_DigestKey,
    st_DigestFinal,
    st_SignInit,
    st_Sign,
    st_SignUpdate,
    st_SignFinal,
    st_SignRecoverInit,
    st_SignRecover,
    st_VerifyInit,
    st_Verify,
    st_VerifyUpdate,
    st_VerifyFinal,
    st_VerifyRecoverInit,
    st_VerifyRecover,
    st_DigestEncryptUpdate,
    st_DecryptDigestUpdate,
    st_SignEncryptUpdate,
    st_DecryptVerifyUpdate,
    st_GenerateKey,
    st_GenerateKeyPair,
    st_WrapKey,
    st_UnwrapKey,
    st_DeriveKey,
    st_SeedRandom,
    st_GenerateRandom,
    st_GetFunctionStatus,
    st_CancelFunction,
    st_WaitForSlotEvent,
};

CK_RV st_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    STANDIN_BEGIN("C_GetFunctionList")
    if (const char* chatty = std::getenv(STANDIN_CHATTY_ENV); chatty && *chatty) {
        // Some vendor modules talk on standard output; this one can, when asked to.
        std::fputs(chatty, stdout);
        std::fflush(stdout);
    }
    rec.arg("listNull", list == nullptr);
    if (rec.faulted()) {
        CK_RV rv = rec.fault();
        if (rv == CKR_OK && list)
            *list = nullptr;
        return rv;
    }
    if (!list)
        return rec.done(CKR_ARGUMENTS_BAD, false);
    *list = &functionList;
    return rec.done(CKR_OK, false);
}

const Call* call_locked(State& s, size_t index)
{
    return index < s.calls.size() ? &s.calls[index] : nullptr;
}

const std::vector<Attr>* template_locked(State& s, size_t call, const char* which)
{
    const Call* c = call_locked(s, call);
    if (!c || !which)
        return nullptr;
    for (auto& t : c->templates)
        if (t.first == which)
            return &t.second;
    return nullptr;
}

} // namespace

// ---- Exports ----

STANDIN_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    return st_GetFunctionList(list);
}

STANDIN_EXPORT void standin_reset(void)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.faults.clear();
    s.overrides.clear();
    ++s.generation;
}

STANDIN_EXPORT void standin_set_target(const char* modulePath)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.hasExplicitTarget = modulePath != nullptr;
    s.explicitTarget = modulePath ? modulePath : "";
}

STANDIN_EXPORT const char* standin_target(void)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.effectiveTarget = targetPath_locked(s);
    return s.effectiveTarget.empty() ? nullptr : s.effectiveTarget.c_str();
}

STANDIN_EXPORT void standin_fail(const char* function, unsigned nth, unsigned long rv)
{
    if (!function)
        return;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.push_back({function, nth, rv});
}

STANDIN_EXPORT void standin_oversize(const char* what, unsigned long length)
{
    if (!what)
        return;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (CK_ULONG* existing = override_locked(s, what))
        *existing = length;
    else
        s.overrides.emplace_back(what, length);
}

STANDIN_EXPORT int standin_drop_sessions(void)
{
    State& s = state();
    CK_FUNCTION_LIST* t;
    std::vector<CK_SESSION_HANDLE> open;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        t = s.target;
        if (!t || !s.targetInitialized)
            return 0;
        open.assign(s.openSessions.begin(), s.openSessions.end());
        s.openSessions.clear();
    }
    int closed = 0;
    for (CK_SESSION_HANDLE h : open)
        if (t->C_CloseSession(h) == CKR_OK)
            ++closed;
    return closed;
}

STANDIN_EXPORT int standin_target_initialized(void)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.targetInitialized ? 1 : 0;
}

STANDIN_EXPORT int standin_finalize_target(void)
{
    State& s = state();
    CK_FUNCTION_LIST* t;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.target || !s.targetInitialized)
            return 0;
        t = s.target;
        s.targetInitialized = false;
        s.openSessions.clear();
    }
    t->C_Finalize(nullptr);
    return 1;
}

STANDIN_EXPORT size_t standin_call_count(void)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls.size();
}

STANDIN_EXPORT const char* standin_call_name(size_t call)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Call* c = call_locked(s, call);
    return c ? c->name : nullptr;
}

STANDIN_EXPORT size_t standin_calls_of(const char* function)
{
    if (!function)
        return 0;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return std::count_if(s.calls.begin(), s.calls.end(),
                         [&](const Call& c) { return std::strcmp(c.name, function) == 0; });
}

STANDIN_EXPORT size_t standin_find_call(const char* function, unsigned nth)
{
    if (!function || nth == 0)
        return static_cast<size_t>(-1);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (size_t i = 0; i < s.calls.size(); ++i)
        if (std::strcmp(s.calls[i].name, function) == 0 && --nth == 0)
            return i;
    return static_cast<size_t>(-1);
}

STANDIN_EXPORT unsigned long standin_call_rv(size_t call)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Call* c = call_locked(s, call);
    return c ? c->rv : CKR_GENERAL_ERROR;
}

STANDIN_EXPORT int standin_call_forwarded(size_t call)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Call* c = call_locked(s, call);
    return c && c->forwarded ? 1 : 0;
}

STANDIN_EXPORT int standin_call_arg(size_t call, const char* name, unsigned long* value)
{
    if (!name)
        return 0;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Call* c = call_locked(s, call);
    if (!c)
        return 0;
    // The last value wins: an out value recorded after an in value of the same name.
    for (auto it = c->args.rbegin(); it != c->args.rend(); ++it)
        if (it->first == name) {
            if (value)
                *value = it->second;
            return 1;
        }
    return 0;
}

STANDIN_EXPORT const unsigned char* standin_call_bytes(size_t call, const char* name, size_t* length)
{
    if (length)
        *length = 0;
    if (!name)
        return nullptr;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Call* c = call_locked(s, call);
    if (!c)
        return nullptr;
    static const unsigned char empty = 0;
    for (auto& b : c->bytes)
        if (b.first == name) {
            if (length)
                *length = b.second.size();
            return b.second.empty() ? &empty : b.second.data();
        }
    return nullptr;
}

STANDIN_EXPORT size_t standin_template_size(size_t call, const char* which)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::vector<Attr>* t = template_locked(s, call, which);
    return t ? t->size() : static_cast<size_t>(-1);
}

STANDIN_EXPORT int standin_template_attr(size_t call, const char* which, size_t index, unsigned long* type,
                                         unsigned long* valueLength, const unsigned char** value)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::vector<Attr>* t = template_locked(s, call, which);
    if (!t || index >= t->size())
        return 0;
    const Attr& a = (*t)[index];
    static const unsigned char empty = 0;
    if (type)
        *type = a.type;
    if (valueLength)
        *valueLength = a.length;
    if (value)
        *value = a.hasValue ? (a.value.empty() ? &empty : a.value.data()) : nullptr;
    return 1;
}
