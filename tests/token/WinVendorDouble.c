/* olpkcs11xsg.dll for the tests on Windows, where no software token runs.
 *
 * Built without VENDOR_DOUBLE_TOKEN (the module-loading tests): just enough of a PKCS#11
 * module for loading, initialising, a presence check and release. It lists no token and
 * counts its calls; the entries those tests never reach stay null.
 *
 * Built with VENDOR_DOUBLE_TOKEN=1 (the NPAPI host tests): one slot holding an in-memory
 * token with the user PIN "123456", one read/write session, and GOST key pairs made,
 * found, read, used and destroyed as a token does. Private keys are only visible to a
 * logged-in user. Its "signature" is not GOST: it is the 32 bytes it was given followed
 * by the first 32 bytes of the key's public value, so a test can tell which bytes in
 * which order reached the token and which key signed. A public value is made from the
 * key's name: byte i is (i * 7 + the sum of the name's bytes) mod 256. */
#define CRYPTOKI_EXPORTS
#include <p11-kit/pkcs11.h>

#include <string.h>

#ifndef VENDOR_DOUBLE_TOKEN
#define VENDOR_DOUBLE_TOKEN 0
#endif

static long initializeCalls;
static long finalizeCalls;
static long slotListCalls;
static long signCalls;
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

#if VENDOR_DOUBLE_TOKEN

#define SLOT_ID 1
#define SESSION_HANDLE 7
#define MAX_OBJECTS 128
#define MAX_ID 1024
#define MAX_LABEL 64
#define VALUE_SIZE 64

struct Key {
    int used;
    CK_OBJECT_CLASS cls;
    unsigned char id[MAX_ID];
    CK_ULONG idLength;
    unsigned char label[MAX_LABEL];
    CK_ULONG labelLength;
    unsigned char value[VALUE_SIZE];
};

static struct Key keys[MAX_OBJECTS];
static int sessionOpen;
static int loggedIn;
static CK_ATTRIBUTE search[8];
static unsigned char searchValues[8][MAX_ID];
static CK_ULONG searchCount;
static int searching;
static CK_ULONG searchNext;
static CK_OBJECT_HANDLE signingKey;

static const char userPin[] = "123456";

static struct Key* keyOf(CK_OBJECT_HANDLE handle)
{
    if (handle < 1 || handle > MAX_OBJECTS || !keys[handle - 1].used)
        return NULL;
    if (keys[handle - 1].cls == CKO_PRIVATE_KEY && !loggedIn)
        return NULL;
    return &keys[handle - 1];
}

static int sessionValid(CK_SESSION_HANDLE session)
{
    return sessionOpen && session == SESSION_HANDLE;
}

static CK_RV getSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* list, CK_ULONG* count)
{
    (void)tokenPresent;
    ++slotListCalls;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    if (list) {
        if (*count < 1) {
            *count = 1;
            return CKR_BUFFER_TOO_SMALL;
        }
        list[0] = SLOT_ID;
    }
    *count = 1;
    return CKR_OK;
}

static CK_RV getSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info)
{
    if (slot != SLOT_ID)
        return CKR_SLOT_ID_INVALID;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    memset(info, 0, sizeof *info);
    info->flags = CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    return CKR_OK;
}

static CK_RV openSession(CK_SLOT_ID slot, CK_FLAGS flags, void* app, CK_NOTIFY notify, CK_SESSION_HANDLE* session)
{
    (void)app;
    (void)notify;
    if (slot != SLOT_ID)
        return CKR_SLOT_ID_INVALID;
    if (!(flags & CKF_SERIAL_SESSION))
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (!session)
        return CKR_ARGUMENTS_BAD;
    if (sessionOpen)
        return CKR_SESSION_COUNT;
    sessionOpen = 1;
    *session = SESSION_HANDLE;
    return CKR_OK;
}

static CK_RV getSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info)
{
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    memset(info, 0, sizeof *info);
    info->slotID = SLOT_ID;
    info->state = loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION;
    info->flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    return CKR_OK;
}

static CK_RV login(CK_SESSION_HANDLE session, CK_USER_TYPE user, unsigned char* pin, CK_ULONG pinLength)
{
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (user != CKU_USER)
        return CKR_USER_TYPE_INVALID;
    if (loggedIn)
        return CKR_USER_ALREADY_LOGGED_IN;
    if (!pin || pinLength != sizeof userPin - 1 || memcmp(pin, userPin, pinLength) != 0)
        return CKR_PIN_INCORRECT;
    loggedIn = 1;
    return CKR_OK;
}

static CK_RV logout(CK_SESSION_HANDLE session)
{
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    loggedIn = 0;
    return CKR_OK;
}

static int matches(const struct Key* key, const CK_ATTRIBUTE* attr)
{
    const unsigned char* want = (const unsigned char*)attr->pValue;
    switch (attr->type) {
    case CKA_CLASS:
        return attr->ulValueLen == sizeof(CK_OBJECT_CLASS) && memcmp(want, &key->cls, sizeof key->cls) == 0;
    case CKA_TOKEN:
        return attr->ulValueLen == 1 && want[0] == CK_TRUE;
    case CKA_PRIVATE:
        return attr->ulValueLen == 1 && (want[0] != 0) == (key->cls == CKO_PRIVATE_KEY);
    case CKA_TRUSTED:  /* nothing on this token is trusted */
        return attr->ulValueLen == 1 && want[0] == CK_FALSE;
    case CKA_ID:
        return attr->ulValueLen == key->idLength && memcmp(want, key->id, key->idLength) == 0;
    case CKA_LABEL:
        return attr->ulValueLen == key->labelLength && memcmp(want, key->label, key->labelLength) == 0;
    default:
        return 0;
    }
}

static CK_RV findObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ, CK_ULONG count)
{
    CK_ULONG i;
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (searching)
        return CKR_OPERATION_ACTIVE;
    if (count > 8 || (count && !templ))
        return CKR_ARGUMENTS_BAD;
    for (i = 0; i < count; ++i) {
        if (templ[i].ulValueLen > MAX_ID || (templ[i].ulValueLen && !templ[i].pValue))
            return CKR_ATTRIBUTE_VALUE_INVALID;
        search[i].type = templ[i].type;
        search[i].ulValueLen = templ[i].ulValueLen;
        memcpy(searchValues[i], templ[i].pValue, templ[i].ulValueLen);
        search[i].pValue = searchValues[i];
    }
    searchCount = count;
    searchNext = 0;
    searching = 1;
    return CKR_OK;
}

static CK_RV findObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* found, CK_ULONG room, CK_ULONG* count)
{
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!searching)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!found || !count)
        return CKR_ARGUMENTS_BAD;
    *count = 0;
    for (; searchNext < MAX_OBJECTS && *count < room; ++searchNext) {
        const struct Key* key = keyOf(searchNext + 1);
        CK_ULONG i;
        int all = key != NULL;
        for (i = 0; all && i < searchCount; ++i)
            all = matches(key, &search[i]);
        if (all)
            found[(*count)++] = searchNext + 1;
    }
    return CKR_OK;
}

static CK_RV findObjectsFinal(CK_SESSION_HANDLE session)
{
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!searching)
        return CKR_OPERATION_NOT_INITIALIZED;
    searching = 0;
    return CKR_OK;
}

/* One attribute out, as PKCS#11 asks: the length alone for a null buffer. */
static CK_RV giveAttribute(CK_ATTRIBUTE* attr, const void* value, CK_ULONG length)
{
    if (!attr->pValue) {
        attr->ulValueLen = length;
        return CKR_OK;
    }
    if (attr->ulValueLen < length) {
        attr->ulValueLen = (CK_ULONG)-1;
        return CKR_BUFFER_TOO_SMALL;
    }
    memcpy(attr->pValue, value, length);
    attr->ulValueLen = length;
    return CKR_OK;
}

static CK_RV getAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* templ,
                               CK_ULONG count)
{
    const struct Key* key;
    CK_RV rv = CKR_OK;
    CK_ULONG i;
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    key = keyOf(object);
    if (!key)
        return CKR_OBJECT_HANDLE_INVALID;
    if (count && !templ)
        return CKR_ARGUMENTS_BAD;
    for (i = 0; i < count; ++i) {
        CK_RV one;
        if (templ[i].type == CKA_ID)
            one = giveAttribute(&templ[i], key->id, key->idLength);
        else if (templ[i].type == CKA_LABEL)
            one = giveAttribute(&templ[i], key->label, key->labelLength);
        else if (templ[i].type == CKA_VALUE && key->cls == CKO_PUBLIC_KEY)
            one = giveAttribute(&templ[i], key->value, VALUE_SIZE);
        else if (templ[i].type == CKA_VALUE) {
            templ[i].ulValueLen = (CK_ULONG)-1;
            one = CKR_ATTRIBUTE_SENSITIVE;
        } else {
            templ[i].ulValueLen = (CK_ULONG)-1;
            one = CKR_ATTRIBUTE_TYPE_INVALID;
        }
        if (rv == CKR_OK)
            rv = one;
    }
    return rv;
}

static const CK_ATTRIBUTE* attributeIn(const CK_ATTRIBUTE* templ, CK_ULONG count, CK_ATTRIBUTE_TYPE type)
{
    CK_ULONG i;
    for (i = 0; i < count; ++i)
        if (templ[i].type == type)
            return &templ[i];
    return NULL;
}

static CK_OBJECT_HANDLE storeKey(CK_OBJECT_CLASS cls, const CK_ATTRIBUTE* id, const CK_ATTRIBUTE* label)
{
    CK_ULONG slot, i;
    unsigned sum = 0;
    for (slot = 0; slot < MAX_OBJECTS && keys[slot].used; ++slot)
        ;
    if (slot == MAX_OBJECTS)
        return 0;
    memset(&keys[slot], 0, sizeof keys[slot]);
    keys[slot].used = 1;
    keys[slot].cls = cls;
    keys[slot].idLength = id->ulValueLen;
    memcpy(keys[slot].id, id->pValue, id->ulValueLen);
    keys[slot].labelLength = label->ulValueLen;
    memcpy(keys[slot].label, label->pValue, label->ulValueLen);
    for (i = 0; i < id->ulValueLen; ++i)
        sum += ((const unsigned char*)id->pValue)[i];
    for (i = 0; i < VALUE_SIZE; ++i)
        keys[slot].value[i] = (unsigned char)(i * 7 + sum);
    return slot + 1;
}

static CK_RV generateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_ATTRIBUTE* pubTempl,
                             CK_ULONG pubCount, CK_ATTRIBUTE* privTempl, CK_ULONG privCount,
                             CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv)
{
    const CK_ATTRIBUTE *pubId, *pubLabel, *privId, *privLabel;
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    if (!mechanism || mechanism->mechanism != CKM_GOSTR3410_KEY_PAIR_GEN)
        return CKR_MECHANISM_INVALID;
    if (!pub || !priv)
        return CKR_ARGUMENTS_BAD;
    pubId = attributeIn(pubTempl, pubCount, CKA_ID);
    pubLabel = attributeIn(pubTempl, pubCount, CKA_LABEL);
    privId = attributeIn(privTempl, privCount, CKA_ID);
    privLabel = attributeIn(privTempl, privCount, CKA_LABEL);
    if (!pubId || !pubLabel || !privId || !privLabel || !attributeIn(pubTempl, pubCount, CKA_GOSTR3410_PARAMS))
        return CKR_TEMPLATE_INCOMPLETE;
    if (pubId->ulValueLen > MAX_ID || privId->ulValueLen > MAX_ID || pubLabel->ulValueLen > MAX_LABEL ||
        privLabel->ulValueLen > MAX_LABEL)
        return CKR_ATTRIBUTE_VALUE_INVALID;
    *pub = storeKey(CKO_PUBLIC_KEY, pubId, pubLabel);
    *priv = *pub ? storeKey(CKO_PRIVATE_KEY, privId, privLabel) : 0;
    if (!*priv) {
        if (*pub)
            keys[*pub - 1].used = 0;
        *pub = 0;
        return CKR_DEVICE_MEMORY;
    }
    /* The pair shares one value: the private key signs with its public half's bytes. */
    memcpy(keys[*priv - 1].value, keys[*pub - 1].value, VALUE_SIZE);
    return CKR_OK;
}

static CK_RV signInit(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key)
{
    const struct Key* k;
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (signingKey)
        return CKR_OPERATION_ACTIVE;
    if (!mechanism || mechanism->mechanism != CKM_GOSTR3410)
        return CKR_MECHANISM_INVALID;
    k = keyOf(key);
    if (!k)
        return CKR_KEY_HANDLE_INVALID;
    if (k->cls != CKO_PRIVATE_KEY)
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    signingKey = key;
    return CKR_OK;
}

static CK_RV sign(CK_SESSION_HANDLE session, unsigned char* data, CK_ULONG length, unsigned char* signature,
                  CK_ULONG* signatureLength)
{
    const struct Key* k;
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!signingKey)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!signatureLength || (length && !data)) {
        signingKey = 0;
        return CKR_ARGUMENTS_BAD;
    }
    if (!signature) {
        *signatureLength = 64;
        return CKR_OK;
    }
    if (*signatureLength < 64) {
        *signatureLength = 64;
        return CKR_BUFFER_TOO_SMALL;
    }
    k = keyOf(signingKey);
    signingKey = 0;
    if (length != 32)
        return CKR_DATA_LEN_RANGE;
    if (!k)
        return CKR_KEY_HANDLE_INVALID;
    ++signCalls;
    memcpy(signature, data, 32);
    memcpy(signature + 32, k->value, 32);
    *signatureLength = 64;
    return CKR_OK;
}

static CK_RV destroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
{
    struct Key* key;
    if (!sessionValid(session))
        return CKR_SESSION_HANDLE_INVALID;
    if (!loggedIn)
        return CKR_USER_NOT_LOGGED_IN;
    key = keyOf(object);
    if (!key)
        return CKR_OBJECT_HANDLE_INVALID;
    key->used = 0;
    return CKR_OK;
}

static CK_RV finalizeToken(void* args)
{
    /* A finalised module closes its sessions; the keys stay on the token. */
    sessionOpen = 0;
    loggedIn = 0;
    searching = 0;
    signingKey = 0;
    return finalize(args);
}

/* What a token tells about itself: an initialised token with a label, blank-padded. */
static CK_RV getTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info)
{
    if (slot != SLOT_ID)
        return CKR_SLOT_ID_INVALID;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    memset(info, 0, sizeof *info);
    memset(info->label, ' ', sizeof info->label);
    memcpy(info->label, "orvanta double", 14);
    info->flags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED;
    return CKR_OK;
}

static void fillTokenEntries(void)
{
    functionList.C_Finalize = finalizeToken;
    functionList.C_GetSlotInfo = getSlotInfo;
    functionList.C_OpenSession = openSession;
    functionList.C_GetSessionInfo = getSessionInfo;
    functionList.C_Login = login;
    functionList.C_Logout = logout;
    functionList.C_FindObjectsInit = findObjectsInit;
    functionList.C_FindObjects = findObjects;
    functionList.C_FindObjectsFinal = findObjectsFinal;
    functionList.C_GetAttributeValue = getAttributeValue;
    functionList.C_GenerateKeyPair = generateKeyPair;
    functionList.C_SignInit = signInit;
    functionList.C_Sign = sign;
    functionList.C_DestroyObject = destroyObject;
    functionList.C_GetTokenInfo = getTokenInfo;
}

#else

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

static void fillTokenEntries(void)
{
}

#endif

CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list)
{
    if (!list)
        return CKR_ARGUMENTS_BAD;
    functionList.version.major = 2;
    functionList.version.minor = 20;
    functionList.C_Initialize = initialize;
    functionList.C_Finalize = finalize;
    functionList.C_GetSlotList = getSlotList;
    fillTokenEntries();
    *list = &functionList;
    return CKR_OK;
}

__declspec(dllexport) long vendor_double_calls(const char* which)
{
    switch (which ? which[0] : 0) {
    case 'I': return initializeCalls;
    case 'F': return finalizeCalls;
    case 'S': return which[1] == 'i' ? signCalls : slotListCalls;
    default: return -1;
    }
}
