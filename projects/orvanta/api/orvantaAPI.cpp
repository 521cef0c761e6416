#include "api/orvantaAPI.h"

#include "PlatformModule.h"
#include "api/HexCodec.h"
#include "gost/GostSign.h"
#include "pin/Companion.h"
#include "pin/PinEntry.h"
#include "token/Pkcs11Session.h"

#include <cstdint>
#include <cstring>

namespace orv {

namespace {

// Statuses of this object's own checks; everything else is the layer's or the engine's.
constexpr std::int32_t kNotLoggedIn = -2;
constexpr std::int32_t kReservedName = -10;
constexpr std::int32_t kShortAnswer = -10;   // a key value or signature of another size than 64
constexpr std::int32_t kBadText = -11;       // empty name or one no container entry holds; a hash
                                             // or key text not 64 long or not 32 hex bytes
constexpr std::int32_t kNoSuchKey = -20;
constexpr std::int32_t kContainerExists = -21;

constexpr std::size_t kHalf = 32;            // one coordinate, one signature half, the hash
constexpr std::size_t kKeyValueSize = 64;    // X and Y, or the two signature halves
constexpr std::size_t kHexTextLength = 64;   // the page's hash and private-key texts
constexpr std::uint32_t kMaxNameLength = 256;

const char kVersion[] = "1.1";
// The name whose public key is looked up as a trusted object; no container may be made
// under it from the page.
const char kRepairKeyName[] = "repair key";
constexpr unsigned char kPublicKey = 0;
constexpr unsigned char kPrivateKey = 1;

FB::variant success() { return FB::variant(true); }
FB::variant status(std::int32_t value) { return FB::variant(static_cast<long>(value)); }

// A script string as the token sees it: the bytes before its first zero byte.
std::string byteString(const FB::variant& value) {
    std::string text = value.convert_cast<std::string>();
    const std::size_t end = text.find('\0');
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

// The page's private key text: wiped wherever the call leaves, an exception included.
class SecretText {
public:
    // Converted in place (no copy left behind), then cut at its first zero byte like any
    // script string, the bytes behind the cut wiped first.
    explicit SecretText(const FB::variant& value) : text_(value.convert_cast<std::string>()) {
        const std::size_t end = text_.find('\0');
        if (end != std::string::npos) {
            secureWipe(&text_[end], text_.size() - end);
            text_.resize(end);
        }
    }
    ~SecretText() { wipe(); }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;

    std::size_t size() const { return text_.size(); }
    char* data() { return &text_[0]; }
    const char* c_str() const { return text_.c_str(); }
    void wipe() {
        if (!text_.empty())
            secureWipe(&text_[0], text_.size());
    }

private:
    std::string text_;
};

// Bytes of a private key: wiped wherever the call leaves.
template <std::size_t N>
struct SecretBytes {
    unsigned char bytes[N] = {};
    SecretBytes() = default;
    ~SecretBytes() { secureWipe(bytes, N); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
};

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::string hexText(const unsigned char (&bytes)[kKeyValueSize]) {
    char text[2 * kKeyValueSize + 1];
    bytesToHex(bytes, kKeyValueSize, text);
    return text;
}

// Both halves of a key value, each reversed on its own: the token keeps every number least
// significant byte first, the page reads them most significant byte first.
std::string halvesReversedHex(unsigned char (&bytes)[kKeyValueSize]) {
    reverseBytes(bytes, kHalf);
    reverseBytes(bytes + kHalf, kHalf);
    return hexText(bytes);
}

// The session of the call; `loggedIn` tells whether the user is logged in on it.
std::int32_t ensureSession(TokenState& t, bool& loggedIn) {
    CK_STATE state = 0;
    const std::int32_t result =
        p11EnsureSession(t.funcList, t.slotList, t.slotIndex, &t.session, &state);
    loggedIn = result == p11status::kOk && state == CKS_RW_USER_FUNCTIONS;
    return result;
}

// A step that needed the login failed: the login never outlives the call, whatever
// C_Logout says; the page gets the first failure.
FB::variant logoutAndFail(TokenState& t, std::int32_t failure) {
    p11Logout(t.funcList, t.session);
    return status(failure);
}

std::int32_t loginIfNeeded(TokenState& t, bool loggedIn) {
    if (loggedIn)
        return p11status::kOk;
    return p11LoginWithDialog(t.funcList, t.session, CKU_USER);
}

std::uint32_t nameLength(const std::string& name) {
    return static_cast<std::uint32_t>(name.size());
}

} // namespace

orvantaAPI::orvantaAPI(const TokenOwnerPtr& plugin, const FB::BrowserHostPtr& host)
    : FB::JSAPIAuto("<JSAPI-Auto Javascript Object>"), m_plugin(plugin), m_host(host) {
    registerProperty("version", FB::make_property(this, &orvantaAPI::get_version));

    registerMethod("olvIsTokenPresentAndOK", FB::make_method(this, &orvantaAPI::olvIsTokenPresentAndOK));
    registerMethod("olvIsUserLoggedIn", FB::make_method(this, &orvantaAPI::olvIsUserLoggedIn));
    registerMethod("olvUserLoginDlg", FB::make_method(this, &orvantaAPI::olvUserLoginDlg));
    registerMethod("olvLogout", FB::make_method(this, &orvantaAPI::olvLogout));
    registerMethod("olvSign", FB::make_method(this, &orvantaAPI::olvSign));
    registerMethod("olvGenKeyPair", FB::make_method(this, &orvantaAPI::olvGenKeyPair));
    registerMethod("olvDestroyContainer", FB::make_method(this, &orvantaAPI::olvDestroyContainer));
    registerMethod("olvGetNumberOfContainers", FB::make_method(this, &orvantaAPI::olvGetNumberOfContainers));
    registerMethod("olvGetPublicKey", FB::make_method(this, &orvantaAPI::olvGetPublicKey));
    registerMethod("olvGetContainerName", FB::make_method(this, &orvantaAPI::olvGetContainerName));
    registerMethod("olvRepair", FB::make_method(this, &orvantaAPI::olvRepair));

    registerMethod("get_version", FB::make_method(this, &orvantaAPI::get_version));
}

orvantaAPI::~orvantaAPI() = default;

TokenOwnerPtr orvantaAPI::plugin() const {
    TokenOwnerPtr owner = m_plugin.lock();
    if (!owner)
        throw FB::script_error("The plugin is invalid");
    const std::string refusal = owner->admitPage();
    if (!refusal.empty())
        throw FB::script_error(refusal);
    return owner;
}

std::string orvantaAPI::get_version() {
    return kVersion;
}

FB::variant orvantaAPI::olvIsTokenPresentAndOK() {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    if (const std::int32_t result = p11CheckTokenPresent(t.funcList, t.slotList, &t.slotIndex))
        return status(result);
    return success();
}

FB::variant orvantaAPI::olvIsUserLoggedIn() {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    return loggedIn ? success() : status(kNotLoggedIn);
}

FB::variant orvantaAPI::olvUserLoginDlg() {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    if (const std::int32_t result = loginIfNeeded(t, loggedIn))
        return status(result);
    return success();
}

FB::variant orvantaAPI::olvLogout() {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    if (loggedIn)
        if (const std::int32_t result = p11Logout(t.funcList, t.session))
            return status(result);
    return success();
}

FB::variant orvantaAPI::olvGetNumberOfContainers() {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    std::uint32_t count = 0;
    if (const std::int32_t result = p11ListContainers(t.funcList, t.session, &count, &t.containers))
        return status(result);
    return FB::variant(static_cast<unsigned long>(count));
}

FB::variant orvantaAPI::olvGetContainerName(const FB::variant& index) {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    const std::int32_t entry = static_cast<std::int32_t>(index.convert_cast<long>());

    // Reads only the last listing. An index outside the table is refused by the layer (-10)
    // before anything is read.
    std::uint32_t length = 0;
    if (const std::int32_t result = p11GetContainerName(&t.containers, entry, nullptr, &length))
        return status(result);
    if (length > kMaxNameLength)
        return status(kNoSuchKey);
    unsigned char name[kMaxNameLength + 1] = {};
    length = kMaxNameLength;
    if (const std::int32_t result = p11GetContainerName(&t.containers, entry, name, &length))
        return status(result);
    name[length] = 0;
    // A name with a zero byte ends there, as the page's own texts do.
    return std::string(reinterpret_cast<const char*>(name));
}

FB::variant orvantaAPI::olvGenKeyPair(const FB::variant& name) {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    const std::string id = byteString(name);
    // A name longer than a container entry holds could never be listed back: refused like
    // an empty one, before the PIN is asked for.
    if (id.empty() || id.size() > kContainerNameSize)
        return status(kBadText);
    if (id == kRepairKeyName)
        return status(kReservedName);
    if (const std::int32_t result = loginIfNeeded(t, loggedIn))
        return status(result);

    for (unsigned char privateFlag : {kPublicKey, kPrivateKey}) {
        CK_OBJECT_HANDLE existing = 0;
        if (const std::int32_t result = p11FindKey(t.funcList, t.session, bytesOf(id),
                                                   nameLength(id), privateFlag, 0, &existing))
            return logoutAndFail(t, result);
        if (existing != 0)
            return logoutAndFail(t, kContainerExists);
    }

    CK_OBJECT_HANDLE publicKey = 0;
    if (const std::int32_t result =
            p11GenerateKeyPair(t.funcList, t.session, bytesOf(id), nameLength(id), &publicKey))
        return logoutAndFail(t, result);
    // A key pair the token refused to make shows up here, as the failed read of handle 0.
    unsigned char value[kKeyValueSize] = {};
    CK_ULONG valueLength = kKeyValueSize;
    if (const std::int32_t result =
            p11ReadKeyValue(t.funcList, t.session, publicKey, value, &valueLength))
        return logoutAndFail(t, result);
    if (valueLength != kKeyValueSize)
        return logoutAndFail(t, kShortAnswer);
    if (const std::int32_t result = p11Logout(t.funcList, t.session))
        return status(result);
    return halvesReversedHex(value);
}

FB::variant orvantaAPI::olvGetPublicKey(const FB::variant& name) {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    const std::string id = byteString(name);
    if (id.empty())
        return status(kBadText);
    const unsigned char trusted = id == kRepairKeyName ? 1 : 0;

    CK_OBJECT_HANDLE publicKey = 0;
    if (const std::int32_t result = p11FindKey(t.funcList, t.session, bytesOf(id), nameLength(id),
                                               kPublicKey, trusted, &publicKey))
        return status(result);
    if (publicKey == 0)
        return status(kNoSuchKey);
    unsigned char value[kKeyValueSize] = {};
    CK_ULONG valueLength = kKeyValueSize;
    if (const std::int32_t result =
            p11ReadKeyValue(t.funcList, t.session, publicKey, value, &valueLength))
        return status(result);
    if (valueLength != kKeyValueSize)
        return status(kShortAnswer);
    return halvesReversedHex(value);
}

FB::variant orvantaAPI::olvSign(const FB::variant& name, const FB::variant& hash) {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    const std::string id = byteString(name);
    if (id.empty())
        return status(kBadText);
    const std::string hashText = byteString(hash);
    if (hashText.size() != kHexTextLength || !isHexByteText(hashText.c_str(), kHalf))
        return status(kBadText);
    // The page writes the hash most significant byte first; the token reads it the other
    // way round.
    unsigned char digest[kHalf] = {};
    hexToBytes(hashText.c_str(), digest, sizeof digest);
    reverseBytes(digest, sizeof digest);

    if (const std::int32_t result = loginIfNeeded(t, loggedIn))
        return status(result);
    CK_OBJECT_HANDLE privateKey = 0;
    if (const std::int32_t result = p11FindKey(t.funcList, t.session, bytesOf(id), nameLength(id),
                                               kPrivateKey, 0, &privateKey))
        return logoutAndFail(t, result);
    if (privateKey == 0)
        return logoutAndFail(t, kNoSuchKey);
    unsigned char signature[kKeyValueSize] = {};
    CK_ULONG signatureLength = kKeyValueSize;
    if (const std::int32_t result = p11Sign(t.funcList, t.session, privateKey, digest,
                                            sizeof digest, signature, &signatureLength))
        return logoutAndFail(t, result);
    if (signatureLength != kKeyValueSize)
        return logoutAndFail(t, kShortAnswer);
    if (const std::int32_t result = p11Logout(t.funcList, t.session))
        return status(result);

    // The token gives s then r; the page gets r then s. Only the halves change places.
    reverseBytes(signature, kKeyValueSize);
    reverseBytes(signature, kHalf);
    reverseBytes(signature + kHalf, kHalf);
    return hexText(signature);
}

FB::variant orvantaAPI::olvDestroyContainer(const FB::variant& name) {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    bool loggedIn = false;
    if (const std::int32_t result = ensureSession(t, loggedIn))
        return status(result);
    const std::string id = byteString(name);
    if (id.empty())
        return status(kBadText);
    if (const std::int32_t result = loginIfNeeded(t, loggedIn))
        return status(result);

    CK_OBJECT_HANDLE keys[2] = {0, 0};  // public, private
    for (unsigned char privateFlag : {kPublicKey, kPrivateKey}) {
        CK_OBJECT_HANDLE& key = keys[privateFlag];
        if (const std::int32_t result = p11FindKey(t.funcList, t.session, bytesOf(id),
                                                   nameLength(id), privateFlag, 0, &key))
            return logoutAndFail(t, result);
        if (key == 0)
            return logoutAndFail(t, kNoSuchKey);
    }
    for (CK_OBJECT_HANDLE key : {keys[kPrivateKey], keys[kPublicKey]})
        if (const std::int32_t result = p11DestroyObject(t.funcList, t.session, key))
            return logoutAndFail(t, result);
    if (const std::int32_t result = p11Logout(t.funcList, t.session))
        return status(result);
    // The container table keeps the last listing: the page lists again to see the change.
    return success();
}

FB::variant orvantaAPI::olvRepair(const FB::variant& key, const FB::variant& hash) {
    const TokenOwnerPtr owner = plugin();
    TokenState& t = owner->tokenState();
    SecretText keyText(key);
    if (keyText.size() != kHexTextLength)
        return status(kBadText);
    const std::string hashText = byteString(hash);  // may throw: keyText wipes itself
    if (hashText.size() != kHexTextLength)
        return status(kBadText);

    // The key text is the private key least significant byte first, in the page's letters.
    lettersToHex(keyText.data());
    if (!isHexByteText(keyText.c_str(), kHalf) || !isHexByteText(hashText.c_str(), kHalf))
        return status(kBadText);
    SecretBytes<kHalf> privateKey;
    hexToBytes(keyText.c_str(), privateKey.bytes, sizeof privateKey.bytes);
    keyText.wipe();
    unsigned char digest[kHalf] = {};
    hexToBytes(hashText.c_str(), digest, sizeof digest);
    reverseBytes(digest, sizeof digest);

    // The crypto companion is only held around the signature (freed again whatever the way
    // out); nothing in it is called.
    struct CompanionHold {
        ModuleHandle& handle;
        ~CompanionHold() {
            if (handle != nullptr) {
                freeModule(handle);
                handle = nullptr;
            }
        }
    };
    std::int32_t result = 0;
    unsigned char signature[kKeyValueSize] = {};
    {
        t.cryptoModule = nullptr;
        CompanionHold hold{t.cryptoModule};
        t.cryptoModule = loadCompanion("olvcrypt");
        std::uint32_t signatureLength = kKeyValueSize;
        result = olcSignHash(privateKey.bytes, sizeof privateKey.bytes, t.cryptoModule, digest,
                             sizeof digest, signature, &signatureLength);
    }
    if (result != 0)
        return status(result);
    // The engine gives r then s, each least significant byte first.
    return halvesReversedHex(signature);
}

} // namespace orv
