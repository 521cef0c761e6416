/* olpkcs11xsg.dll for the module-loading tests on Windows, where no software token runs:
 * just enough of a PKCS#11 module for loading, initialising, a presence check and release.
 * It lists no token and counts its calls; the entries these tests never reach stay null. */
#define CRYPTOKI_EXPORTS
#include <p11-kit/pkcs11.h>

static long initializeCalls;
static long finalizeCalls;
static long slotListCalls;
static CK_FUNCTION_LIST functionList;

static CK_RV initialize(void* args)
{
    (void)args;
    ++initializeCalls;
    return CKR_OK;
}

static CK_RV finalize(void* args)
{
    (void)args;
    ++finalizeCalls;
    return CKR_OK;
}

static CK_RV getSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* list, CK_ULONG* count)
{
    (void)tokenPresent;
    (void)list;
    ++slotListCalls;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    *count = 0;
    return CKR_OK;
}

CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list)
{
    if (!list)
        return CKR_ARGUMENTS_BAD;
    functionList.version.major = 2;
    functionList.version.minor = 20;
    functionList.C_Initialize = initialize;
    functionList.C_Finalize = finalize;
    functionList.C_GetSlotList = getSlotList;
    *list = &functionList;
    return CKR_OK;
}

__declspec(dllexport) long vendor_double_calls(const char* which)
{
    switch (which ? which[0] : 0) {
    case 'I': return initializeCalls;
    case 'F': return finalizeCalls;
    case 'S': return slotListCalls;
    default: return -1;
    }
}
