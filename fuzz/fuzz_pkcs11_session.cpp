// The session layer against a PKCS#11 module whose every answer comes from the input: return
// codes, slot lists and counts, session states, C_FindObjects counts, attribute and signature
// lengths (room-sized, one more, absurd), CKR_BUFFER_TOO_SMALL. The module writes no more than
// the room it is given, as any module must, but may claim anything. The rest of the input
// picks the session layer's operations (load, slots, session, login, find, list, read the
// public key, sign, generate, destroy, names, unload) and their arguments. Whatever the module
// says: no byte is read or written outside a buffer, every length handed back on success fits
// the caller's room, the layer names only objects the module handed out, the PIN dialog
// depth returns to zero and the load count stays balanced.

#include "FuzzInput.h"
#include "PlatformUi.h"
#include "pin/PinEntry.h"
#include "token/Pkcs11Session.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

using orv::fuzz::FuzzInput;

FuzzInput* script = nullptr;  // the running input; the module draws its answers from it
// Every object handle the module handed out in this input: the layer may name no other.
std::set<CK_OBJECT_HANDLE> handedOut;

void mustBeHandedOut(CK_OBJECT_HANDLE object) {
    if (object != 0 && handedOut.count(object) == 0) {
        std::fprintf(stderr, "the layer named object %lu, which the module never handed out\n",
                     static_cast<unsigned long>(object));
        std::abort();
    }
}

CK_OBJECT_HANDLE newHandle() {
    const CK_OBJECT_HANDLE h = script->byte();
    handedOut.insert(h);
    return h;
}

volatile unsigned char sink;

// Reads every byte a template or argument claims to hold, so a claim larger than the memory
// behind it is an AddressSanitizer report.
void touch(const void* data, CK_ULONG length) {
    if (!data || length == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    unsigned char sum = 0;
    for (CK_ULONG i = 0; i < length; ++i)
        sum ^= p[i];
    sink = sum;
}

void touchTemplate(const CK_ATTRIBUTE* templ, CK_ULONG count) {
    if (count > 0 && !templ)
        std::abort();
    for (CK_ULONG i = 0; i < count; ++i)
        touch(templ[i].pValue, templ[i].ulValueLen);
}

CK_RV drawRv() {
    static const CK_RV kCodes[] = {
        CKR_GENERAL_ERROR, CKR_BUFFER_TOO_SMALL, CKR_SESSION_HANDLE_INVALID, CKR_TOKEN_NOT_PRESENT,
        CKR_PIN_INCORRECT, CKR_PIN_LOCKED, CKR_PIN_LEN_RANGE, CKR_PIN_INVALID,
        CKR_USER_ALREADY_LOGGED_IN, CKR_DEVICE_ERROR, CKR_DEVICE_MEMORY, CKR_DEVICE_REMOVED,
        CKR_OPERATION_ACTIVE, CKR_ATTRIBUTE_TYPE_INVALID, CKR_CRYPTOKI_ALREADY_INITIALIZED,
        CKR_VENDOR_DEFINED,
    };
    const std::uint8_t b = script->byte();
    if (b < 0xB0)
        return CKR_OK;  // mostly success, so the deeper steps are reached
    if (b == 0xFF)
        return script->number<CK_RV>();
    return kCodes[b % (sizeof kCodes / sizeof kCodes[0])];
}

// A length or count the module claims: small, near the sizes the caller uses, or absurd.
CK_ULONG drawLength() {
    switch (script->byte() % 12) {
    case 0: return 0;
    case 1: return 64;
    case 2: return 65;
    case 3: return 1024;
    case 4: return 1025;
    case 5: return orv::kMaxSignatureLength + (script->byte() & 1);
    case 6: return orv::kMaxAttributeLength + (script->byte() & 1);
    case 7: return CK_UNAVAILABLE_INFORMATION;
    case 8: return script->number<CK_ULONG>();
    case 9: return orv::kMaxSlotCount + (script->byte() & 1);
    default: return script->byte() % 80;
    }
}

void fill(void* data, CK_ULONG room, CK_ULONG claimed) {
    unsigned char* p = static_cast<unsigned char*>(data);
    const CK_ULONG n = std::min(room, claimed);
    for (CK_ULONG i = 0; i < n; ++i)
        p[i] = script->byte();
}

CK_RV Initialize(CK_VOID_PTR) { return drawRv(); }
CK_RV Finalize(CK_VOID_PTR reserved) {
    if (reserved)
        std::abort();
    return drawRv();
}

CK_RV GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    if (!count)
        std::abort();
    const CK_RV rv = drawRv();
    const CK_ULONG claimed = drawLength();
    if (list) {
        const CK_ULONG room = *count;
        for (CK_ULONG i = 0; i < std::min(room, claimed); ++i)
            list[i] = script->number<std::uint8_t>();
    }
    *count = claimed;
    return rv;
}

CK_RV GetSlotInfo(CK_SLOT_ID, CK_SLOT_INFO_PTR info) {
    if (!info)
        std::abort();
    std::memset(info, 0xA5, sizeof *info);
    info->flags = script->byte() & 1 ? CKF_TOKEN_PRESENT : 0;
    return drawRv();
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO_PTR info) {
    if (!info)
        std::abort();
    info->state = script->byte() % 6;
    return drawRv();
}

CK_RV OpenSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
    if (!session)
        std::abort();
    *session = script->byte();
    return drawRv();
}

CK_RV Login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    touch(pin, length);
    return drawRv();
}

CK_RV Logout(CK_SESSION_HANDLE) { return drawRv(); }

CK_RV FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    touchTemplate(templ, count);
    return drawRv();
}

CK_RV FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR found, CK_ULONG max, CK_ULONG_PTR count) {
    if (!found || !count)
        std::abort();
    const CK_ULONG claimed = drawLength();
    // Mostly as many handles as it claims (within the room), sometimes fewer.
    CK_ULONG written = std::min(max, claimed);
    if (script->byte() & 1)
        written = std::min<CK_ULONG>(written, script->byte() % 3);
    for (CK_ULONG i = 0; i < written; ++i)
        found[i] = newHandle();
    *count = claimed;
    return drawRv();
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE) { return drawRv(); }

CK_RV GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    mustBeHandedOut(object);
    if (count > 0 && !templ)
        std::abort();
    const CK_RV rv = drawRv();
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG claimed = drawLength();
        if (templ[i].pValue)
            fill(templ[i].pValue, templ[i].ulValueLen, claimed);
        templ[i].ulValueLen = claimed;
    }
    return rv;
}

CK_RV SignInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    mustBeHandedOut(key);
    if (!mechanism)
        std::abort();
    touch(mechanism->pParameter, mechanism->ulParameterLen);
    return drawRv();
}

CK_RV Sign(CK_SESSION_HANDLE, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLength) {
    if (!signatureLength)
        std::abort();
    touch(data, dataLength);
    const CK_RV rv = drawRv();
    const CK_ULONG claimed = drawLength();
    if (signature)
        fill(signature, *signatureLength, claimed);
    *signatureLength = claimed;
    return rv;
}

CK_RV DestroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object) {
    mustBeHandedOut(object);
    return drawRv();
}

CK_RV GenerateKeyPair(CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
                      CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey) {
    if (!mechanism || !publicKey || !privateKey)
        std::abort();
    touchTemplate(publicTemplate, publicCount);
    touchTemplate(privateTemplate, privateCount);
    *publicKey = newHandle();
    *privateKey = newHandle();
    return drawRv();
}

CK_FUNCTION_LIST& functionList() {
    static CK_FUNCTION_LIST list = [] {
        CK_FUNCTION_LIST l;
        std::memset(&l, 0, sizeof l);  // a call of anything else crashes: a finding
        l.version = {2, 20};
        l.C_Initialize = Initialize;
        l.C_Finalize = Finalize;
        l.C_GetSlotList = GetSlotList;
        l.C_GetSlotInfo = GetSlotInfo;
        l.C_GetSessionInfo = GetSessionInfo;
        l.C_OpenSession = OpenSession;
        l.C_Login = Login;
        l.C_Logout = Logout;
        l.C_FindObjectsInit = FindObjectsInit;
        l.C_FindObjects = FindObjects;
        l.C_FindObjectsFinal = FindObjectsFinal;
        l.C_GetAttributeValue = GetAttributeValue;
        l.C_SignInit = SignInit;
        l.C_Sign = Sign;
        l.C_DestroyObject = DestroyObject;
        l.C_GenerateKeyPair = GenerateKeyPair;
        return l;
    }();
    return list;
}

// Exactly `size` bytes on the heap, so one byte past them is a heap overflow.
std::unique_ptr<unsigned char[]> exactly(std::size_t size) {
    return std::unique_ptr<unsigned char[]>(new unsigned char[size ? size : 1]);
}

// The room a caller gives: the sizes the scripting object uses, or any small one.
std::size_t drawRoom() {
    switch (script->byte() % 4) {
    case 0: return 64;
    case 1: return 1024;
    default: return script->byte();
    }
}

std::vector<unsigned char> drawBytes() {
    const std::string text = script->text();
    return std::vector<unsigned char>(text.begin(), text.end());
}

} // namespace

extern "C" __attribute__((visibility("default"))) CK_RV orvFuzzModuleFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    switch (script ? script->byte() % 16 : 0) {
    case 14: *list = nullptr; return CKR_OK;
    case 15: return CKR_GENERAL_ERROR;
    default: *list = &functionList(); return CKR_OK;
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    orv::setMessageBoxHandler([](const std::string&, const std::string&) {});
    // Held open for the whole run: libFuzzer keeps reading the coverage counters of every
    // module it saw, so the stand-in must stay mapped when the last unload frees it.
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    path.erase(path.rfind('/') + 1);
    if (!dlopen((path + "olpkcs11xsg.so").c_str(), RTLD_NOW))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orv;
    FuzzInput in(data, size);
    script = &in;
    handedOut.clear();
    std::vector<unsigned char> pin;
    setPinEntryHandler([&pin] {
        const std::size_t n = std::min(pin.size(), kPinTextSize - 1);
        std::copy(pin.begin(), pin.begin() + static_cast<std::ptrdiff_t>(n), pinText);
        pinLength = static_cast<std::int32_t>(n);
        return !pin.empty();
    });

    // Two plug-in objects of one page: the first load initialises the module, the last
    // unload finalises it.
    struct Object {
        TokenState s;
        bool loaded = false;
        CK_STATE state = 0;
        CK_OBJECT_HANDLE object = 0;
    } objects[2];
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        const std::uint8_t op = in.byte();
        Object& o = objects[op & 1];
        TokenState& s = o.s;
        CK_STATE& state = o.state;
        CK_OBJECT_HANDLE& object = o.object;
        CK_FUNCTION_LIST_PTR fl = s.funcList ? s.funcList : &functionList();
        switch ((op >> 1) % 15) {
        case 0:
            if (o.loaded)
                break;  // an object loads the module once
            if (p11LoadModule(&s.pkcs11Module, &s.funcList, &s.containers) == p11status::kOk) {
                if (!s.pkcs11Module || s.funcList != &functionList())
                    std::abort();
                o.loaded = true;
            } else if (s.pkcs11Module || s.funcList) {
                std::abort();
            }
            break;
        case 1:
            p11UnloadModule(s.pkcs11Module, s.funcList);
            s.pkcs11Module = nullptr;
            s.funcList = nullptr;
            o.loaded = false;
            break;
        case 2:
            s.slotIndex = in.byte() % 7;
            p11CheckTokenPresent(fl, s.slotList, &s.slotIndex);
            break;
        case 3:
            p11EnsureSession(fl, s.slotList, in.byte() % 7, &s.session, &state);
            break;
        case 4: {
            const std::vector<unsigned char> given = drawBytes();
            auto buffer = exactly(given.size());
            std::copy(given.begin(), given.end(), buffer.get());
            p11Login(fl, s.session, CKU_USER, buffer.get(), static_cast<std::uint32_t>(given.size()));
            break;
        }
        case 5:
            pin = drawBytes();
            p11LoginWithDialog(fl, s.session, CKU_USER);
            if (pinDialogDepth != 0)
                std::abort();
            break;
        case 6:
            p11Logout(fl, s.session);
            break;
        case 7: {
            const std::vector<unsigned char> name = drawBytes();
            auto buffer = exactly(name.size());
            std::copy(name.begin(), name.end(), buffer.get());
            const std::uint8_t flags = in.byte();
            p11FindKey(fl, s.session, buffer.get(), static_cast<std::uint32_t>(name.size()), flags & 1,
                       (flags >> 1) & 1, &object);
            break;
        }
        case 8: {
            const CK_ULONG room = drawRoom();
            auto buffer = exactly(room);
            CK_ULONG length = room;
            if (p11ReadKeyValue(fl, s.session, object, buffer.get(), &length) == p11status::kOk &&
                length > room)
                std::abort();
            break;
        }
        case 9: {
            const std::vector<unsigned char> hash = drawBytes();
            auto input = exactly(hash.size());
            std::copy(hash.begin(), hash.end(), input.get());
            const CK_ULONG room = drawRoom();
            auto signature = exactly(room);
            CK_ULONG length = room;
            if (p11Sign(fl, s.session, object, input.get(), hash.size(), signature.get(), &length) ==
                    p11status::kOk &&
                length > room)
                std::abort();
            break;
        }
        case 10:
            p11DestroyObject(fl, s.session, object);
            break;
        case 11: {
            std::vector<unsigned char> name = drawBytes();
            if (in.byte() & 1)
                name.resize(kContainerNameSize + (in.byte() & 1), 'n');
            auto buffer = exactly(name.size());
            std::copy(name.begin(), name.end(), buffer.get());
            p11GenerateKeyPair(fl, s.session, buffer.get(), static_cast<std::uint32_t>(name.size()), &object);
            break;
        }
        case 12: {
            std::uint32_t count = 0xFFFFFFFF;
            if (p11ListContainers(fl, s.session, &count, &s.containers) == p11status::kOk &&
                count > kContainerCount)
                std::abort();
            for (const ContainerEntry& entry : s.containers.entries)
                if (entry.length > kContainerNameSize)
                    std::abort();
            break;
        }
        case 13: {
            const std::int32_t index = static_cast<std::int8_t>(in.byte());
            const std::uint32_t room = static_cast<std::uint32_t>(drawRoom());
            auto buffer = exactly(room);
            std::uint32_t length = room;
            const bool withBuffer = in.byte() & 1;
            const std::int32_t status =
                p11GetContainerName(&s.containers, index, withBuffer ? buffer.get() : nullptr, &length);
            if (status == p11status::kOk && withBuffer && length > room)
                std::abort();
            break;
        }
        default:
            p11ResetContainers(&s.containers);
            break;
        }
        if (pinDialogDepth != 0)
            std::abort();
    }
    // A plug-in object gives its share back when it goes; the next input starts unloaded.
    for (Object& o : objects)
        if (o.loaded)
            p11UnloadModule(o.s.pkcs11Module, o.s.funcList);
    if (moduleLoadCount != 0)
        std::abort();
    setPinEntryHandler(nullptr);
    script = nullptr;
    return 0;
}
