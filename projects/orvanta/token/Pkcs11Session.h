#pragma once
// The PKCS#11 session layer: the only code that talks to the token. Plain functions over the
// fields of a TokenState, each returning a signed 32-bit status (0 success, negative failure).
// A failing PKCS#11 call shows an error box naming the call and gives -80 - rv.
// All of it runs on the browser's main thread and takes no locks.

#include "token/TokenState.h"

#include <cstdint>

namespace orv {

namespace p11status {
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNoToken = -1;            // no slot with a token, or it was pulled
constexpr std::int32_t kPinInvalid = -3;
constexpr std::int32_t kPinIncorrect = -4;
constexpr std::int32_t kPinLocked = -5;
constexpr std::int32_t kPinLength = -6;          // outside 6..32, or CKR_PIN_LEN_RANGE
constexpr std::int32_t kPinCancelled = -7;
constexpr std::int32_t kBadArgument = -10;       // null pointer, zero length, or too big to hold
constexpr std::int32_t kPinDialogOpen = -12;
constexpr std::int32_t kEmptyContainer = -20;
constexpr std::int32_t kDeviceFailure = -40;     // key generation: device error or memory
constexpr std::int32_t kModuleLoadFailed = -50;
constexpr std::int32_t kModuleNotLoaded = -51;   // or C_Initialize failed
constexpr std::int32_t kNoFunctionList = -53;
constexpr std::int32_t kCallFailedBase = -80;    // -80 - rv, in 32-bit arithmetic
} // namespace p11status

// Sizes no token can answer: more slots than any machine has readers, a signature longer
// than any mechanism makes (an RSA signature of 16384 bits is 2 KiB), an attribute value
// larger than the whole memory of a USB token. A module that claims one is broken: its
// claim is that call's failure (reported as CKR_GENERAL_ERROR, status -85) before anything
// is sized by it.
constexpr CK_ULONG kMaxSlotCount = 1024;
constexpr CK_ULONG kMaxSignatureLength = 16 * 1024;
constexpr CK_ULONG kMaxAttributeLength = 1024 * 1024;

// Process-wide: how many plug-in objects have the module loaded, and whether a PIN request
// opened by p11LoginWithDialog is on screen.
extern std::int32_t moduleLoadCount;
extern std::int32_t pinDialogDepth;

// -80 - rv as the 32-bit status (0x80000001 gives 2147483567).
std::int32_t p11CallFailureStatus(CK_RV rv);

// Loads the vendor module from the folder of the plug-in's own module (the first load in the
// process initialises it) and resets the table. On failure the out values are null.
std::int32_t p11LoadModule(ModuleHandle* module, CK_FUNCTION_LIST_PTR* funcList,
                           ContainerTable* containers);
// The last unload in the process finalises and frees the module. Always 0.
std::int32_t p11UnloadModule(ModuleHandle module, CK_FUNCTION_LIST_PTR funcList);

// Fills slotList (5 entries; further slots are not kept) with the slots that hold a token.
std::int32_t p11CheckTokenPresent(CK_FUNCTION_LIST_PTR fl, CK_SLOT_ID* slotList,
                                  std::uint32_t* slotIndex);
// Makes sure `session` is a session of the module, opening a read/write one when needed;
// gives the session's state (CKS_RW_USER_FUNCTIONS: logged in).
std::int32_t p11EnsureSession(CK_FUNCTION_LIST_PTR fl, const CK_SLOT_ID* slotList,
                              std::uint32_t slotIndex, CK_SESSION_HANDLE* session,
                              CK_STATE* state);

std::int32_t p11Login(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session, CK_USER_TYPE userType,
                      const unsigned char* pin, std::uint32_t pinLength);
// Asks for the PIN (companion module, else the built-in entry), then logs in.
std::int32_t p11LoginWithDialog(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                                CK_USER_TYPE userType);
std::int32_t p11Logout(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session);

// The one key object with this CKA_ID (private or public), or handle 0 for none or several.
std::int32_t p11FindKey(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                        const unsigned char* name, std::uint32_t nameLength,
                        unsigned char privateFlag, unsigned char trustedFlag,
                        CK_OBJECT_HANDLE* object);

// CKA_VALUE of an object. *length is the buffer's size on entry and the value's length on
// return (what the module reports for the value it wrote); a value longer than the buffer
// gives -10 with *length set to the value's length.
std::int32_t p11ReadKeyValue(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                             CK_OBJECT_HANDLE object, unsigned char* buffer,
                             CK_ULONG* length);

// Signs with CKM_GOSTR3410. *signatureLength is the buffer's size on entry and the
// signature's length on return; a longer signature gives -10 and is not copied.
std::int32_t p11Sign(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                     const unsigned char* data, CK_ULONG dataLength, unsigned char* signature,
                     CK_ULONG* signatureLength);

std::int32_t p11DestroyObject(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                              CK_OBJECT_HANDLE object);

// Generates a GOST R 34.10-2001 key pair named `name` on the token. A name longer than a
// container entry holds (kContainerNameSize) is -10: the listing could not read it back.
// Only a device error or full device memory fail (-40); any other outcome is 0 with the
// public handle as the module left it (0 when no key was made).
std::int32_t p11GenerateKeyPair(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                                const unsigned char* name, std::uint32_t nameLength,
                                CK_OBJECT_HANDLE* publicKey);

// Lists up to 64 containers (public keys with the container label) into the table. An
// entry whose CKA_ID is longer than an entry holds (made by another program) keeps the
// placeholder and counts; the listing goes on.
std::int32_t p11ListContainers(CK_FUNCTION_LIST_PTR fl, CK_SESSION_HANDLE session,
                               std::uint32_t* count, ContainerTable* containers);

// Name of entry `index` (0..63). With a null buffer only *length is set. With a buffer,
// *length is its size on entry; the name is copied unterminated and *length is its length.
std::int32_t p11GetContainerName(const ContainerTable* containers, std::int32_t index,
                                 unsigned char* buffer, std::uint32_t* length);

} // namespace orv
