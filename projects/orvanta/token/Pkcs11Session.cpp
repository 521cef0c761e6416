#include "token/Pkcs11Session.h"

#include "ErrorBox.h"
#include "ModuleNames.h"
#include "logging.h"
#include "pin/PinEntry.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

namespace orv {

std::int32_t moduleLoadCount = 0;
std::int32_t pinDialogDepth = 0;

namespace {

using namespace p11status;

// Attribute values the templates point to. PKCS#11 templates take non-const pointers; the
// module only reads search and generation templates.
CK_BBOOL trueValue = CK_TRUE;
CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
CK_KEY_TYPE gostKeyType = CKK_GOSTR3410;
CK_BYTE falseValue = CK_FALSE;
// "pelorima v.10", no terminator: the CKA_LABEL of every key object of this system.
CK_BYTE containerLabel[13] = {'p', 'e', 'l', 'o', 'r', 'i', 'm', 'a', ' ', 'v', '.', '1', '0'};
// DER OID 1.2.643.2.2.35.1, the CryptoPro-A parameter set of GOST R 34.10-2001.
CK_BYTE cryptoProA[9] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};

const char kCallFailed[] = "some pkcs11 error";

std::int32_t callFailed(const char* caption, CK_RV rv) {
    showErrorBox(kCallFailed, caption, static_cast<std::uint32_t>(rv));
    return p11CallFailureStatus(rv);
}

bool moduleLoaded() { return moduleLoadCount >= 1; }

// A size the module claimed that no token can answer (see kMaxSlotCount & co.): the call
// failed, whatever it returned.
std::int32_t implausibleClaim(const char* caption, CK_ULONG claimed) {
    FBLOG_WARN("p11", caption << " claimed a size of " << claimed);
    return callFailed(caption, CKR_GENERAL_ERROR);
}

// The placeholder of an empty entry, "///*///emptycontainer///*///", written in place so the
// text exists nowhere as a string of its own.
void writePlaceholder(unsigned char* p) {
    p[0] = '/'; p[1] = '/'; p[2] = '/'; p[3] = '*'; p[4] = '/'; p[5] = '/'; p[6] = '/';
    p[7] = 'e'; p[8] = 'm'; p[9] = 'p'; p[10] = 't'; p[11] = 'y';
    p[12] = 'c'; p[13] = 'o'; p[14] = 'n'; p[15] = 't'; p[16] = 'a'; p[17] = 'i'; p[18] = 'n';
    p[19] = 'e'; p[20] = 'r';
    p[21] = '/'; p[22] = '/'; p[23] = '/'; p[24] = '*'; p[25] = '/'; p[26] = '/'; p[27] = '/';
}

bool holdsPlaceholder(const ContainerEntry& entry) {
    unsigned char placeholder[kPlaceholderSize];
    writePlaceholder(placeholder);
    for (std::size_t i = 0; i < kPlaceholderSize; i += 4) {
        std::uint32_t a, b;
        std::memcpy(&a, entry.name + i, 4);
        std::memcpy(&b, placeholder + i, 4);
        if (a != b)
            return false;
    }
    return true;
}

// Runs a search into `found` (room for kContainerCount handles) and gives the number of
// handles the module wrote, never more than that room.
std::int32_t findObjects(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                         CK_ATTRIBUTE* templ, CK_ULONG count, CK_OBJECT_HANDLE* found,
                         CK_ULONG* foundCount) {
    CK_RV rv = fl->C_FindObjectsInit(session, templ, count);
    if (rv != CKR_OK)
        return callFailed("C_FindObjectsInit", rv);
    *foundCount = 0;
    // A module may claim more handles than it wrote: those must read as no object, not as
    // whatever the caller's stack held.
    std::fill(found, found + kContainerCount, static_cast<CK_OBJECT_HANDLE>(CK_INVALID_HANDLE));
    rv = fl->C_FindObjects(session, found, kContainerCount, foundCount);
    if (rv != CKR_OK) {
        // End the search all the same: a search left active would make every later search
        // on this long-lived session fail with CKR_OPERATION_ACTIVE.
        fl->C_FindObjectsFinal(session);
        return callFailed("C_FindObjects", rv);
    }
    rv = fl->C_FindObjectsFinal(session);
    if (rv != CKR_OK)
        return callFailed("C_FindObjectsFinal", rv);
    if (*foundCount > kContainerCount)
        *foundCount = kContainerCount;  // a module claiming more than it had room for
    return kOk;
}

} // namespace

std::int32_t p11CallFailureStatus(CK_RV rv) {
    const std::uint32_t status = static_cast<std::uint32_t>(0) - 80u - static_cast<std::uint32_t>(rv);
    return static_cast<std::int32_t>(status);
}

void p11ResetContainers(ContainerTable* table) {
    if (!table)
        return;
    for (ContainerEntry& entry : table->entries) {
        writePlaceholder(entry.name);
        entry.length = kPlaceholderSize;
    }
}

std::int32_t p11LoadModule(ModuleHandle* module, CK_FUNCTION_LIST_PTR* funcList,
                           ContainerTable* containers) {
    if (!module || !funcList || !containers)
        return kBadArgument;
    *module = nullptr;
    *funcList = nullptr;

    // The vendor module lives beside the plug-in's own module; when that is not found by its
    // file name (a renamed plug-in, or a test executable) the executable's folder is used.
    std::string path;
    bool truncated = false;
    ownModulePath(moduleFileName("nporvanta"), path, truncated);
    const std::size_t separator = path.rfind(pathSeparator());
    if (separator != std::string::npos)
        path.erase(separator + 1);
    path += moduleFileName("olpkcs11xsg");
    if (truncated || pathCharacters(path) + 1 > kModulePathCapacity) {
        FBLOG_WARN("p11", "module path too long: " << path);
        showErrorBox("Error loading pkcs11 library", "Error", pathTooLongError());
        return kModuleLoadFailed;
    }

    const bool firstLoad = !moduleLoaded();
    ModuleHandle loaded = firstLoad ? loadModule(path) : findLoadedModule(path);
    if (!loaded) {
        showErrorBox("Error loading pkcs11 library", "Error", lastModuleError());
        return kModuleLoadFailed;
    }

    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(moduleSymbol(loaded, "C_GetFunctionList"));
    if (!getFunctionList) {
        showErrorBox("error get procedure adress", "GetProcAddress", lastModuleError());
        if (firstLoad)
            freeModule(loaded);
        return kNoFunctionList;
    }

    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV rv = getFunctionList(&list);
    if (rv != CKR_OK || !list) {
        showErrorBox("error get procedure list pointer", "GetFunctionList",
                     static_cast<std::uint32_t>(rv));
        if (firstLoad)
            freeModule(loaded);
        return kNoFunctionList;
    }

    if (firstLoad) {
        rv = list->C_Initialize(nullptr);
        if (rv != CKR_OK) {
            showErrorBox("Cannot initialize olpkcs11xsg.dll", "Error",
                         static_cast<std::uint32_t>(rv));
            freeModule(loaded);
            return kModuleNotLoaded;
        }
    }

    p11ResetContainers(containers);
    ++moduleLoadCount;
    *module = loaded;
    *funcList = list;
    return kOk;
}

std::int32_t p11UnloadModule(ModuleHandle module, CK_FUNCTION_LIST_PTR funcList) {
    // An object whose load failed holds no share of the count: releasing it must not
    // finalise the module under the objects that did load it.
    if (moduleLoadCount <= 0 || !module)
        return kOk;
    if (moduleLoadCount == 1) {
        if (funcList)
            funcList->C_Finalize(nullptr);  // closes the module's sessions too
        freeModule(module);
    }
    --moduleLoadCount;
    return kOk;
}

std::int32_t p11CheckTokenPresent(CK_FUNCTION_LIST_PTR fl, CK_SLOT_ID* slotList,
                                  std::uint32_t* slotIndex) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !slotList || !slotIndex)
        return kBadArgument;

    CK_ULONG count = 0;
    CK_RV rv = fl->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK)
        return callFailed("C_GetSlotList 1", rv);
    if (count > kMaxSlotCount)
        return implausibleClaim("C_GetSlotList 1", count);

    if (count <= kSlotListSize) {
        rv = fl->C_GetSlotList(CK_TRUE, slotList, &count);
    } else {
        // More tokens than the list holds: take them all, keep the first five (the first
        // one is the slot in use).
        const CK_ULONG room = count;
        std::unique_ptr<CK_SLOT_ID[]> all(new (std::nothrow) CK_SLOT_ID[room]);
        if (!all)
            return kBadArgument;
        rv = fl->C_GetSlotList(CK_TRUE, all.get(), &count);
        if (rv == CKR_OK) {
            const CK_ULONG kept = count < room ? count : room;
            for (CK_ULONG i = 0; i < kept && i < kSlotListSize; ++i)
                slotList[i] = all[i];
        }
    }
    if (rv != CKR_OK)
        return callFailed("C_GetSlotList 2", rv);

    if (count == 0)
        return kNoToken;
    if (*slotIndex >= kSlotListSize || *slotIndex >= count)
        return kBadArgument;

    CK_SLOT_INFO info;
    std::memset(&info, 0, sizeof info);
    rv = fl->C_GetSlotInfo(slotList[*slotIndex], &info);
    if (rv != CKR_OK)
        return callFailed("C_GetSlotInfo", rv);
    return (info.flags & CKF_TOKEN_PRESENT) ? kOk : kNoToken;
}

std::int32_t p11EnsureSession(CK_FUNCTION_LIST_PTR fl, const CK_SLOT_ID* slotList,
                              std::uint32_t slotIndex, CK_SESSION_HANDLE* session,
                              CK_STATE* state) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !slotList || !session || !state)
        return kBadArgument;
    if (slotIndex >= kSlotListSize)
        return kBadArgument;

    CK_SESSION_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = fl->C_GetSessionInfo(*session, &info);
    if (rv == CKR_SESSION_HANDLE_INVALID) {
        rv = fl->C_OpenSession(slotList[slotIndex], CKF_SERIAL_SESSION | CKF_RW_SESSION,
                               nullptr, nullptr, session);
        if (rv == CKR_TOKEN_NOT_PRESENT)
            return kNoToken;
        if (rv != CKR_OK)
            return callFailed("C_OpenSession", rv);
        rv = fl->C_GetSessionInfo(*session, &info);
        if (rv != CKR_OK)
            return callFailed("C_GetSessionInfo", rv);
    } else if (rv != CKR_OK) {
        return callFailed("C_GetSessionInfo", rv);
    }
    *state = info.state;
    return kOk;
}

std::int32_t p11Login(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session, CK_USER_TYPE userType,
                      const unsigned char* pin, std::uint32_t pinLength) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !pin)
        return kBadArgument;
    if (pinLength < 6 || pinLength > 32)
        return kPinLength;

    const CK_RV rv = fl->C_Login(session, userType, const_cast<CK_UTF8CHAR_PTR>(pin), pinLength);
    switch (rv) {
    case CKR_OK:
    case CKR_USER_ALREADY_LOGGED_IN:
        return kOk;
    case CKR_PIN_INVALID:
        return kPinInvalid;
    case CKR_PIN_INCORRECT:
        return kPinIncorrect;
    case CKR_PIN_LOCKED:
        return kPinLocked;
    case CKR_PIN_LEN_RANGE:
        return kPinLength;
    default:
        return callFailed("C_Login", rv);
    }
}

std::int32_t p11LoginWithDialog(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                                CK_USER_TYPE userType) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl)
        return kBadArgument;
    // A script that calls in again from the PIN window's message loop gets no second window.
    if (pinDialogDepth >= 1)
        return kPinDialogOpen;

    unsigned char pin[36];
    std::int32_t length = 0;
    int entered = 0;
    {
        // Back down on every way out of the entry: a depth left at 1 would refuse every
        // later PIN request of the process with -12.
        struct DialogDepth {
            DialogDepth() { ++pinDialogDepth; }
            ~DialogDepth() { --pinDialogDepth; }
        } depth;
        try {
            entered = askPin(pin, &length);
        } catch (const std::exception& e) {
            // A PIN entry that failed is what the page hears about; nothing thrown here
            // may reach the browser.
            FBLOG_WARN("p11", "PIN entry failed: " << e.what());
            entered = 0;
        }
    }
    if (!entered) {
        secureWipe(pin, sizeof pin);
        return kPinCancelled;
    }
    const std::int32_t status =
        p11Login(fl, session, userType, pin, static_cast<std::uint32_t>(length));
    secureWipe(pin, sizeof pin);
    return status;
}

std::int32_t p11Logout(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl)
        return kBadArgument;
    const CK_RV rv = fl->C_Logout(session);
    if (rv != CKR_OK)
        return callFailed("C_Logout", rv);
    return kOk;
}

std::int32_t p11FindKey(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                        const unsigned char* name, std::uint32_t nameLength,
                        unsigned char privateFlag, unsigned char trustedFlag,
                        CK_OBJECT_HANDLE* object) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !name || !object || nameLength < 1)
        return kBadArgument;

    CK_ATTRIBUTE templ[5] = {
        {CKA_TOKEN, &trueValue, 1},
        {CKA_PRIVATE, &privateFlag, 1},
        {CKA_LABEL, containerLabel, sizeof containerLabel},
        {CKA_ID, const_cast<unsigned char*>(name), nameLength},
        {CKA_TRUSTED, &trustedFlag, 1},
    };
    const CK_ULONG count = trustedFlag != 0 ? 5 : 4;

    CK_OBJECT_HANDLE found[kContainerCount];
    CK_ULONG foundCount = 0;
    const std::int32_t status = findObjects(fl, session, templ, count, found, &foundCount);
    if (status != kOk)
        return status;
    // Two keys with the same name are as good as none: neither can be told apart.
    *object = foundCount == 1 ? found[0] : 0;
    return kOk;
}

std::int32_t p11ReadKeyValue(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                             CK_OBJECT_HANDLE object, unsigned char* buffer,
                             CK_ULONG* length) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !buffer || !length)
        return kBadArgument;

    const CK_ULONG room = *length;
    CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
    CK_RV rv = fl->C_GetAttributeValue(session, object, &value, 1);
    if (rv != CKR_OK)
        return callFailed("C_GetAttributeValue 1", rv);
    if (value.ulValueLen > kMaxAttributeLength)
        return implausibleClaim("C_GetAttributeValue 1", value.ulValueLen);
    *length = value.ulValueLen;
    if (value.ulValueLen > room) {
        FBLOG_WARN("p11", "CKA_VALUE of " << value.ulValueLen << " bytes, room for " << room);
        return kBadArgument;
    }
    value.pValue = buffer;
    rv = fl->C_GetAttributeValue(session, object, &value, 1);
    if (rv != CKR_OK)
        return callFailed("C_GetAttributeValue 2", rv);
    // What the module wrote, which callers check against the size they need.
    *length = value.ulValueLen;
    if (value.ulValueLen > room)
        return kBadArgument;
    return kOk;
}

std::int32_t p11Sign(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                     const unsigned char* data, CK_ULONG dataLength, unsigned char* signature,
                     CK_ULONG* signatureLength) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !data || !signature || !signatureLength || dataLength < 1)
        return kBadArgument;

    const CK_ULONG room = *signatureLength;
    CK_MECHANISM mechanism = {CKM_GOSTR3410, nullptr, 0};
    CK_RV rv = fl->C_SignInit(session, &mechanism, key);
    if (rv != CKR_OK)
        return callFailed("C_SignInit", rv);
    CK_BYTE_PTR input = const_cast<CK_BYTE_PTR>(data);
    rv = fl->C_Sign(session, input, dataLength, nullptr, signatureLength);
    if (rv != CKR_OK)
        return callFailed("C_Sign 1", rv);
    if (*signatureLength > kMaxSignatureLength)
        return implausibleClaim("C_Sign 1", *signatureLength);

    if (*signatureLength > room) {
        // Too long for the caller. Finish the operation into a buffer of its size all the
        // same, or it would stay active and refuse every later signature on this session.
        FBLOG_WARN("p11", "signature of " << *signatureLength << " bytes, room for " << room);
        CK_ULONG length = *signatureLength;
        std::unique_ptr<CK_BYTE[]> scratch(new (std::nothrow) CK_BYTE[length]);
        if (!scratch)
            return kBadArgument;
        rv = fl->C_Sign(session, input, dataLength, scratch.get(), &length);
        secureWipe(scratch.get(), *signatureLength);
        if (rv != CKR_OK)
            return callFailed("C_Sign 2", rv);
        return kBadArgument;
    }

    rv = fl->C_Sign(session, input, dataLength, signature, signatureLength);
    if (rv != CKR_OK)
        return callFailed("C_Sign 2", rv);
    if (*signatureLength > room)
        return kBadArgument;  // it claims to have written past the buffer
    return kOk;
}

std::int32_t p11DestroyObject(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                              CK_OBJECT_HANDLE object) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl)
        return kBadArgument;
    const CK_RV rv = fl->C_DestroyObject(session, object);
    if (rv != CKR_OK)
        return callFailed("C_DestroyObject", rv);
    return kOk;
}

std::int32_t p11GenerateKeyPair(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                                const unsigned char* name, std::uint32_t nameLength,
                                CK_OBJECT_HANDLE* publicKey) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !name || !publicKey || nameLength < 1)
        return kBadArgument;
    // The listing keeps names in entries of kContainerNameSize bytes: a longer one could
    // never be read back.
    if (nameLength > kContainerNameSize)
        return kBadArgument;

    CK_MECHANISM mechanism = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_BYTE_PTR id = const_cast<CK_BYTE_PTR>(name);
    CK_ATTRIBUTE publicTemplate[6] = {
        {CKA_CLASS, &publicClass, sizeof publicClass},
        {CKA_TOKEN, &trueValue, 1},
        {CKA_KEY_TYPE, &gostKeyType, sizeof gostKeyType},
        {CKA_GOSTR3410_PARAMS, cryptoProA, sizeof cryptoProA},
        {CKA_LABEL, containerLabel, sizeof containerLabel},
        {CKA_ID, id, nameLength},
    };
    CK_ATTRIBUTE privateTemplate[6] = {
        {CKA_CLASS, &privateClass, sizeof privateClass},
        {CKA_TOKEN, &trueValue, 1},
        {CKA_KEY_TYPE, &gostKeyType, sizeof gostKeyType},
        {CKA_GOSTR3410_PARAMS, cryptoProA, sizeof cryptoProA},
        {CKA_LABEL, containerLabel, sizeof containerLabel},
        {CKA_ID, id, nameLength},
    };
    CK_OBJECT_HANDLE publicHandle = 0;
    CK_OBJECT_HANDLE privateHandle = 0;
    const CK_RV rv = fl->C_GenerateKeyPair(session, &mechanism, publicTemplate, 6,
                                           privateTemplate, 6, &publicHandle, &privateHandle);
    *publicKey = publicHandle;
    if (rv == CKR_DEVICE_ERROR || rv == CKR_DEVICE_MEMORY)
        return kDeviceFailure;
    // Any other refusal surfaces when the caller reads the new key's value.
    if (rv != CKR_OK)
        FBLOG_INFO("p11", "C_GenerateKeyPair: 0x" << std::hex << rv);
    return kOk;
}

std::int32_t p11ListContainers(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                               std::uint32_t* count, ContainerTable* containers) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!fl || !count || !containers)
        return kBadArgument;

    CK_ATTRIBUTE templ[4] = {
        {CKA_CLASS, &publicClass, sizeof publicClass},
        {CKA_TOKEN, &trueValue, 1},
        {CKA_PRIVATE, &falseValue, 1},
        {CKA_LABEL, containerLabel, sizeof containerLabel},
    };
    CK_OBJECT_HANDLE found[kContainerCount];
    CK_ULONG foundCount = 0;
    const std::int32_t status = findObjects(fl, session, templ, 4, found, &foundCount);
    if (status != kOk)
        return status;

    p11ResetContainers(containers);
    for (CK_ULONG i = 0; i < foundCount; ++i) {
        ContainerEntry& entry = containers->entries[i];
        CK_ATTRIBUTE id = {CKA_ID, nullptr, 0};
        CK_RV rv = fl->C_GetAttributeValue(session, found[i], &id, 1);
        if (rv != CKR_OK)
            return callFailed("C_GetAttributeValue 1", rv);
        if (id.ulValueLen > kMaxAttributeLength)
            return implausibleClaim("C_GetAttributeValue 1", id.ulValueLen);
        if (id.ulValueLen > kContainerNameSize) {
            // Made by another program: the entry keeps its placeholder (a cut name would
            // name another container) and counts, and the other containers are listed.
            FBLOG_WARN("p11", "CKA_ID of " << id.ulValueLen << " bytes");
            continue;
        }
        entry.length = static_cast<std::uint32_t>(id.ulValueLen);
        id.pValue = entry.name;
        rv = fl->C_GetAttributeValue(session, found[i], &id, 1);
        if (rv != CKR_OK)
            return callFailed("C_GetAttributeValue 2", rv);
        if (id.ulValueLen < entry.length)
            entry.length = static_cast<std::uint32_t>(id.ulValueLen);  // what it wrote
    }
    *count = static_cast<std::uint32_t>(foundCount);
    return kOk;
}

std::int32_t p11GetContainerName(const ContainerTable* containers, std::int32_t index,
                                 unsigned char* buffer, std::uint32_t* length) {
    if (!moduleLoaded())
        return kModuleNotLoaded;
    if (!containers || !length)
        return kBadArgument;
    if (index < 0 || index >= static_cast<std::int32_t>(kContainerCount))
        return kBadArgument;

    const ContainerEntry& entry = containers->entries[index];
    if (entry.length > kContainerNameSize)
        return kBadArgument;
    const std::uint32_t room = *length;
    *length = entry.length;
    if (!buffer)
        return kOk;
    if (holdsPlaceholder(entry))
        return kEmptyContainer;
    if (entry.length > room)
        return kBadArgument;
    std::memcpy(buffer, entry.name, entry.length);
    return kOk;
}

} // namespace orv
