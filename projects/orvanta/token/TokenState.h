#pragma once
// The token state one plug-in object keeps: the PKCS#11 function list, the slots that hold a
// token, the session in use, and the last listing of the token's key containers. The plug-in
// object owns one TokenState; the scripting object passes its fields to the p11 functions.

#include "PlatformModule.h"

#include <p11-kit/pkcs11.h>

#include <cstdint>

namespace orv {

constexpr std::size_t kSlotListSize = 5;
constexpr std::size_t kContainerCount = 64;
constexpr std::size_t kContainerNameSize = 1024;
constexpr std::size_t kPlaceholderSize = 28;

// One key container: the raw bytes of its keys' CKA_ID, not terminated.
struct ContainerEntry {
    unsigned char name[kContainerNameSize];
    std::uint32_t length;
};

struct ContainerTable {
    ContainerEntry entries[kContainerCount];
};

// Writes the placeholder of an empty entry into all 64 entries (name prefix and length 28);
// the rest of each name is left as it was.
void p11ResetContainers(ContainerTable* table);

struct TokenState {
    CK_FUNCTION_LIST_PTR funcList = nullptr;
    CK_SLOT_ID slotList[kSlotListSize] = {};
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    std::uint32_t slotIndex = 0;
    ContainerTable containers;
    ModuleHandle pkcs11Module = nullptr;  // olpkcs11xsg
    ModuleHandle cryptoModule = nullptr;  // olvcrypt, only while a software signature runs

    TokenState() : containers() { p11ResetContainers(&containers); }
    // 64 KiB of names: one per plug-in object, never copied by accident.
    TokenState(const TokenState&) = delete;
    TokenState& operator=(const TokenState&) = delete;
};

} // namespace orv
