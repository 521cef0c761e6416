// orvantaAPI end to end: SoftHSM through the olpkcs11xsg stand-in, PINs from the olvgui
// companion double. Each test gets a fresh token.

#include "ApiTokenFixture.h"

#include <algorithm>
#include <set>

namespace orv { namespace test {
std::unique_ptr<CompanionDouble> ApiToken::companion_;
}} // namespace orv::test

namespace {

using namespace orv;
using namespace orv::test;
using FB::variant;
using FB::VariantList;
using Bytes = std::vector<unsigned char>;

const std::string kHash = countingHash();

TEST_F(ApiToken, TokenPresence) {
    EXPECT_TRUE(isTrue(call("olvIsTokenPresentAndOK")));
    EXPECT_EQ(standin().calls(), (std::vector<std::string>{"C_GetSlotList", "C_GetSlotList", "C_GetSlotInfo"}));
    EXPECT_NE(state().slotList[0], 0u);

    standin().reset();
    standin().oversize(Standin::slotCount(), 0);
    EXPECT_TRUE(isStatus(call("olvIsTokenPresentAndOK"), -1));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, LoginStateLoginAndLogout) {
    present();
    EXPECT_TRUE(isStatus(call("olvIsUserLoggedIn"), -2));
    EXPECT_EQ(callsOf("C_OpenSession"), 1u);

    EXPECT_TRUE(isTrue(call("olvUserLoginDlg")));
    EXPECT_EQ(prompts(), 1);
    const auto login = standin().findCall("C_Login");
    ASSERT_TRUE(login);
    EXPECT_EQ(standin().arg(*login, "userType"), static_cast<unsigned long>(CKU_USER));
    EXPECT_EQ(standin().bytes(*login, "pin"), Bytes(SoftHsmToken::kUserPin, SoftHsmToken::kUserPin + 6));
    EXPECT_TRUE(isTrue(call("olvIsUserLoggedIn")));

    // Already logged in: true without a prompt and without C_Login.
    EXPECT_TRUE(isTrue(call("olvUserLoginDlg")));
    EXPECT_EQ(prompts(), 1);
    EXPECT_EQ(callsOf("C_Login"), 1u);

    EXPECT_TRUE(isTrue(call("olvLogout")));
    EXPECT_EQ(callsOf("C_Logout"), 1u);
    EXPECT_TRUE(isStatus(call("olvIsUserLoggedIn"), -2));
    // Not logged in: true without C_Logout.
    EXPECT_TRUE(isTrue(call("olvLogout")));
    EXPECT_EQ(callsOf("C_Logout"), 1u);
    EXPECT_EQ(callsOf("C_OpenSession"), 1u);  // one session throughout
    EXPECT_TRUE(boxes_.boxes().empty());
}

// The module calls of each method, in order, from a logged-out session with one container.
TEST_F(ApiToken, EveryMethodMakesItsModuleCallsInOrder) {
    present();
    generate("signer");
    ASSERT_FALSE(loggedIn());
    const std::vector<std::string> search = {"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"};
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::vector<std::string> info = {"C_GetSessionInfo"};
    const std::vector<std::string> readValue = {"C_GetAttributeValue", "C_GetAttributeValue"};
    const struct {
        const char* method;
        VariantList args;
        std::vector<std::string> calls;
        long status = 0;  // 0: the call succeeds
    } cases[] = {
        {"olvIsTokenPresentAndOK", {}, {"C_GetSlotList", "C_GetSlotList", "C_GetSlotInfo"}},
        {"olvIsUserLoggedIn", {}, info, -2},
        {"olvLogout", {}, info},  // not logged in: no C_Logout
        {"olvUserLoginDlg", {}, {"C_GetSessionInfo", "C_Login"}},
        {"olvUserLoginDlg", {}, info},  // already logged in
        {"olvLogout", {}, {"C_GetSessionInfo", "C_Logout"}},
        {"olvGetNumberOfContainers", {}, join({info, search, readValue})},
        {"olvGetContainerName", {variant(0)}, {}},
        {"olvGetPublicKey", {variant("signer")}, join({info, search, readValue})},
        {"olvSign", {variant("signer"), variant(kHash)},
         join({info, {"C_Login"}, search, {"C_SignInit", "C_Sign", "C_Sign", "C_Logout"}})},
        {"olvGenKeyPair", {variant("fresh")},
         join({info, {"C_Login"}, search, search, {"C_GenerateKeyPair"}, readValue, {"C_Logout"}})},
        {"olvDestroyContainer", {variant("fresh")},
         join({info, {"C_Login"}, search, search, {"C_DestroyObject", "C_DestroyObject", "C_Logout"}})},
        {"olvRepair", {variant(std::string(64, 'M')), variant(kHash)}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        standin().reset();
        const variant answer = call(c.method, c.args);
        if (c.status)
            EXPECT_TRUE(isStatus(answer, c.status));
        else
            EXPECT_FALSE(answer.is_of_type<long>()) << describe(answer);
        EXPECT_EQ(standin().calls(), c.calls);
        if (std::string(c.method) == "olvGenKeyPair" || std::string(c.method) == "olvDestroyContainer") {
            // The public key is looked for first, then the private one.
            for (unsigned nth : {1u, 2u}) {
                const auto init = standin().findCall("C_FindObjectsInit", nth);
                ASSERT_TRUE(init);
                const auto templ = standin().recordedTemplate(*init, "template");
                ASSERT_TRUE(templ && templ->size() == 4u);
                EXPECT_EQ((*templ)[1], attribute(CKA_PRIVATE, {static_cast<unsigned char>(nth - 1)})) << nth;
            }
        }
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, LoginStatusesReachThePage) {
    present();
    companion_->answer("000000");
    EXPECT_TRUE(isStatus(call("olvUserLoginDlg"), -4));  // CKR_PIN_INCORRECT
    companion_->answer("12345");
    EXPECT_TRUE(isStatus(call("olvUserLoginDlg"), -6));  // too short: the module is not asked
    EXPECT_EQ(callsOf("C_Login"), 1u);
    EXPECT_EQ(prompts(), 2);
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, CancelledPromptIsMinus7WithoutLogout) {
    present();
    generate("kept");
    standin().reset();
    companion_->reset();
    companion_->cancel();
    const struct {
        const char* method;
        VariantList args;
    } cases[] = {
        {"olvUserLoginDlg", {}},
        {"olvGenKeyPair", {variant("new")}},
        {"olvSign", {variant("kept"), variant(kHash)}},
        {"olvDestroyContainer", {variant("kept")}},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(isStatus(call(c.method, c.args), -7)) << c.method;
    EXPECT_EQ(prompts(), 4);
    EXPECT_EQ(callsOf("C_Login"), 0u);
    EXPECT_EQ(callsOf("C_Logout"), 0u);
    EXPECT_EQ(callsOf("C_FindObjectsInit"), 0u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, GenerateAnswersThePublicKeyAndLogsOut) {
    present();
    const std::string key = generate("first");
    EXPECT_EQ(prompts(), 1);
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(isText(call("olvGetPublicKey", {variant("first")}), key));

    // Logged in before: no prompt, and still logged out afterwards.
    ASSERT_TRUE(isTrue(call("olvUserLoginDlg")));
    const std::string second = generate("second");
    EXPECT_NE(second, key);
    EXPECT_EQ(prompts(), 2);
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(isText(call("olvGetPublicKey", {variant("second")}), second));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, GenerateSendsTheNameAsTheKeysId) {
    present();
    generate(variant(std::string("ab\0cd", 5)));  // a script string ends at its first zero
    const auto gen = standin().findCall("C_GenerateKeyPair");
    ASSERT_TRUE(gen);
    const auto pub = standin().recordedTemplate(*gen, "public");
    ASSERT_TRUE(pub);
    const auto id = std::find_if(pub->begin(), pub->end(), [](const RecordedAttribute& a) { return a.type == CKA_ID; });
    ASSERT_NE(id, pub->end());
    EXPECT_EQ(id->value, Bytes({'a', 'b'}));
    // Wide text reaches the token as UTF-8.
    generate(variant(std::wstring(L"\u043a\u043b\u044e\u0447")));
    EXPECT_TRUE(isKeyText(call("olvGetPublicKey", {variant("\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87")})));
}

TEST_F(ApiToken, ExistingNameIsMinus21AfterThePromptAndLogsOut) {
    present();
    generate("twice");
    standin().reset();
    EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant("twice")}), -21));
    EXPECT_EQ(prompts(), 2);
    EXPECT_EQ(callsOf("C_GenerateKeyPair"), 0u);
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_FALSE(loggedIn());

    // A private key alone is enough to refuse the name.
    generate("half");
    layerLogin();
    ASSERT_EQ(p11DestroyObject(state().funcList, state().session, layerFind("half", 0)), 0);
    ASSERT_EQ(p11Logout(state().funcList, state().session), 0);
    standin().reset();
    EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant("half")}), -21));
    EXPECT_EQ(callsOf("C_FindObjectsInit"), 2u);
    EXPECT_EQ(callsOf("C_GenerateKeyPair"), 0u);
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, EmptyNamesAreMinus11WithoutAPrompt) {
    present();
    for (const char* method : {"olvGenKeyPair", "olvGetPublicKey", "olvDestroyContainer"}) {
        EXPECT_TRUE(isStatus(call(method, {variant("")}), -11)) << method;
        EXPECT_TRUE(isStatus(call(method, {variant(std::string("\0abc", 4))}), -11)) << method;
    }
    EXPECT_TRUE(isStatus(call("olvSign", {variant(""), variant(kHash)}), -11));
    EXPECT_EQ(prompts(), 0);
    EXPECT_EQ(callsOf("C_Login"), 0u);
    EXPECT_EQ(callsOf("C_FindObjectsInit"), 0u);
}

TEST_F(ApiToken, RepairKeyIsReservedWithoutAPromptAndCaseSensitive) {
    present();
    EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant("repair key")}), -10));
    EXPECT_EQ(prompts(), 0);
    EXPECT_EQ(callsOf("C_Login"), 0u);
    EXPECT_EQ(callsOf("C_FindObjectsInit"), 0u);
    generate("Repair key");
    generate("repair key ");
    EXPECT_EQ(prompts(), 2);
}

// A public key object made directly on the token in a session of its own: by the user, or
// trusted, by the security officer (SoftHSM lets only the officer set CKA_TRUSTED, and only
// when the object is made).
CK_OBJECT_HANDLE createPublicKey(CK_FUNCTION_LIST_PTR fl, CK_SLOT_ID slot, const std::string& id,
                                 Bytes value, bool trusted) {
    static const Bytes label = {'p', 'e', 'l', 'o', 'r', 'i', 'm', 'a', ' ', 'v', '.', '1', '0'};
    Bytes params3410 = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
    Bytes params3411 = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};
    Bytes idBytes(id.begin(), id.end()), labelBytes = label;
    CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_GOSTR3410;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    std::vector<CK_ATTRIBUTE> attributes = {
        {CKA_CLASS, &keyClass, sizeof keyClass},
        {CKA_KEY_TYPE, &keyType, sizeof keyType},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_LABEL, labelBytes.data(), labelBytes.size()},
        {CKA_ID, idBytes.data(), idBytes.size()},
        {CKA_GOSTR3410_PARAMS, params3410.data(), params3410.size()},
        {CKA_GOSTR3411_PARAMS, params3411.data(), params3411.size()},
        {CKA_VALUE, value.data(), value.size()},
    };
    if (trusted)
        attributes.push_back({CKA_TRUSTED, &yes, sizeof yes});

    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(fl->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
    std::string pin = trusted ? SoftHsmToken::kSoPin : SoftHsmToken::kUserPin;
    EXPECT_EQ(fl->C_Login(session, trusted ? CKU_SO : CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]),
                          pin.size()),
              CKR_OK);
    CK_OBJECT_HANDLE object = 0;
    EXPECT_EQ(fl->C_CreateObject(session, attributes.data(), attributes.size(), &object), CKR_OK);
    EXPECT_EQ(fl->C_Logout(session), CKR_OK);
    EXPECT_EQ(fl->C_CloseSession(session), CKR_OK);
    return object;
}

TEST_F(ApiToken, RepairKeysPublicKeyMustBeTrusted) {
    present();
    // The page cannot make a container of that name: its public key is made on the token
    // from the value of another container's key.
    const std::string expected = generate("source");
    CK_OBJECT_HANDLE source = layerFind("source", 0);
    Bytes value(64);
    CK_ULONG length = value.size();
    ASSERT_EQ(p11ReadKeyValue(state().funcList, state().session, source, value.data(), &length), 0);
    const CK_OBJECT_HANDLE untrusted =
        createPublicKey(state().funcList, state().slotList[0], "repair key", value, false);
    ASSERT_NE(untrusted, 0u);
    standin().reset();

    EXPECT_TRUE(isStatus(call("olvGetPublicKey", {variant("repair key")}), -20));
    const auto search = standin().findCall("C_FindObjectsInit");
    ASSERT_TRUE(search);
    const auto found = standin().recordedTemplate(*search, "template");
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 5u);
    EXPECT_EQ(found->back(), attribute(CKA_TRUSTED, {CK_TRUE}));

    // The same key trusted.
    layerLogin();
    ASSERT_EQ(p11DestroyObject(state().funcList, state().session, untrusted), 0);
    ASSERT_EQ(p11Logout(state().funcList, state().session), 0);
    ASSERT_NE(createPublicKey(state().funcList, state().slotList[0], "repair key", value, true), 0u);
    EXPECT_TRUE(isText(call("olvGetPublicKey", {variant("repair key")}), expected));

    // Another capitalisation is an ordinary name, looked up without the trusted flag.
    generate("Repair key");
    standin().reset();
    EXPECT_TRUE(isKeyText(call("olvGetPublicKey", {variant("Repair key")})));
    EXPECT_EQ(standin().recordedTemplate(*standin().findCall("C_FindObjectsInit"), "template")->size(), 4u);
    EXPECT_EQ(prompts(), 2);  // only the two generations asked for the PIN
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, ContainersAreCountedAndNamedFromTheLastListing) {
    present();
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(0)}), -20));  // nothing listed yet
    generate("alpha");
    generate("beta");
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(0)}), -20));  // still not listed

    const int promptsBefore = prompts();
    EXPECT_TRUE(isCount(call("olvGetNumberOfContainers"), 2));
    EXPECT_EQ(prompts(), promptsBefore);  // public objects: no login
    std::set<std::string> names;
    for (int i = 0; i < 2; ++i) {
        const variant name = call("olvGetContainerName", {variant(i)});
        ASSERT_TRUE(name.is_of_type<std::string>()) << describe(name);
        names.insert(name.cast<std::string>());
    }
    EXPECT_EQ(names, (std::set<std::string>{"alpha", "beta"}));
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(2)}), -20));
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(63)}), -20));
    for (long outside : {-1L, 64L, 1000L})
        EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(outside)}), -10)) << outside;

    // Generating and destroying leave the table as it was until the page lists again.
    const variant first = call("olvGetContainerName", {variant(0)});
    const variant second = call("olvGetContainerName", {variant(1)});
    ASSERT_TRUE(first.is_of_type<std::string>() && second.is_of_type<std::string>());
    generate("gamma");
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(2)}), -20));
    ASSERT_TRUE(isTrue(call("olvDestroyContainer", {variant("alpha")})));
    ASSERT_TRUE(isTrue(call("olvDestroyContainer", {variant("beta")})));
    standin().reset();
    EXPECT_TRUE(isText(call("olvGetContainerName", {variant(0)}), first.cast<std::string>()));
    EXPECT_TRUE(isText(call("olvGetContainerName", {variant(1)}), second.cast<std::string>()));
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(2)}), -20));
    EXPECT_EQ(standin().callCount(), 0u);  // names come from the table alone

    EXPECT_TRUE(isCount(call("olvGetNumberOfContainers"), 1));
    EXPECT_TRUE(isText(call("olvGetContainerName", {variant(0)}), "gamma"));
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(1)}), -20));
}

TEST_F(ApiToken, ContainerNamesUpTo256Bytes) {
    present();
    const std::string longest(256, 'n'), tooLong(257, 'o');
    generate(longest);
    generate(tooLong);
    generate(variant(std::string("pre\0", 4)));  // stored as "pre"
    ASSERT_TRUE(isCount(call("olvGetNumberOfContainers"), 3));
    std::multiset<std::string> texts;
    int tooLongAnswers = 0;
    for (int i = 0; i < 3; ++i) {
        const variant name = call("olvGetContainerName", {variant(i)});
        if (isStatus(name, -20))
            ++tooLongAnswers;
        else if (name.is_of_type<std::string>())
            texts.insert(name.cast<std::string>());
        else
            ADD_FAILURE() << describe(name);
    }
    EXPECT_EQ(tooLongAnswers, 1);
    EXPECT_EQ(texts, (std::multiset<std::string>{longest, "pre"}));
}

TEST_F(ApiToken, NamesTheListingCouldNotReadBackAreRefusedWithoutAPrompt) {
    present();
    const std::string tooLong(kContainerNameSize + 1, 'n');
    EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant(tooLong)}), -11));
    EXPECT_EQ(prompts(), 0);
    EXPECT_EQ(callsOf("C_Login"), 0u);
    EXPECT_EQ(callsOf("C_GenerateKeyPair"), 0u);
    // The listing goes on working for every page.
    EXPECT_TRUE(isCount(call("olvGetNumberOfContainers"), 0));
    // The longest name an entry holds is made and listed (the page reads names up to 256
    // bytes, so its own answer for it is -20).
    generate(std::string(kContainerNameSize, 'n'));
    EXPECT_TRUE(isCount(call("olvGetNumberOfContainers"), 1));
    EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(0)}), -20));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, ListingKeepsGoingPastAContainerMadeElsewhereWithALongName) {
    present();
    generate("mine");
    // Another program's key pair, its CKA_ID longer than an entry holds.
    layerLogin();
    const std::string longId(1500, 'L');
    CK_MECHANISM mechanism = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_GOSTR3410;
    CK_BBOOL yes = CK_TRUE;
    unsigned char params[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
    char label[] = "pelorima v.10";
    std::string id = longId;
    CK_ATTRIBUTE pub[6] = {{CKA_CLASS, &publicClass, sizeof publicClass}, {CKA_TOKEN, &yes, 1},
                           {CKA_KEY_TYPE, &type, sizeof type},           {CKA_GOSTR3410_PARAMS, params, 9},
                           {CKA_LABEL, label, 13},                        {CKA_ID, &id[0], id.size()}};
    CK_ATTRIBUTE priv[6] = {{CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_TOKEN, &yes, 1},
                            {CKA_KEY_TYPE, &type, sizeof type},             {CKA_GOSTR3410_PARAMS, params, 9},
                            {CKA_LABEL, label, 13},                          {CKA_ID, &id[0], id.size()}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(state().funcList->C_GenerateKeyPair(state().session, &mechanism, pub, 6, priv, 6, &publicKey, &privateKey),
              static_cast<CK_RV>(CKR_OK));
    ASSERT_EQ(p11Logout(state().funcList, state().session), 0);
    generate("yours");

    for (int page = 0; page < 2; ++page) {  // every later listing, too
        ASSERT_TRUE(isCount(call("olvGetNumberOfContainers"), 3));
        std::set<std::string> names;
        int placeholders = 0;
        for (int i = 0; i < 3; ++i) {
            const variant name = call("olvGetContainerName", {variant(i)});
            if (isStatus(name, -20))
                ++placeholders;
            else if (name.is_of_type<std::string>())
                names.insert(name.cast<std::string>());
            else
                ADD_FAILURE() << describe(name);
        }
        EXPECT_EQ(placeholders, 1);
        EXPECT_EQ(names, (std::set<std::string>{"mine", "yours"}));
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

// A GOST public key value and signature are 64 bytes; a module answering fewer has failed,
// and the page gets -10 instead of a zero-padded value that looks valid.
TEST_F(ApiToken, ShortKeyValuesAndSignaturesAreMinus10) {
    present();
    generate("short");
    for (CK_ULONG length : {0UL, 32UL, 63UL}) {
        SCOPED_TRACE(length);
        standin().reset();
        standin().oversize(Standin::ckaValue(), length);
        EXPECT_TRUE(isStatus(call("olvGetPublicKey", {variant("short")}), -10));
        EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant("new " + std::to_string(length))}), -10));
        EXPECT_EQ(standin().calls().back(), "C_Logout");
        EXPECT_FALSE(loggedIn());
        standin().reset();
        standin().oversize(Standin::signature(), length);
        EXPECT_TRUE(isStatus(call("olvSign", {variant("short"), variant(kHash)}), -10));
        EXPECT_EQ(standin().calls().back(), "C_Logout");
        EXPECT_FALSE(loggedIn());
    }
    EXPECT_TRUE(boxes_.boxes().empty());
    // Whole answers still come through.
    standin().reset();
    EXPECT_TRUE(isKeyText(call("olvGetPublicKey", {variant("short")})));
    EXPECT_TRUE(isKeyText(call("olvSign", {variant("short"), variant(kHash)})));
}

TEST_F(ApiToken, SignTakesTheHashReversedAndLogsOut) {
    present();
    generate("signer");
    standin().reset();
    const variant signature = call("olvSign", {variant("signer"), variant(kHash)});
    EXPECT_TRUE(isKeyText(signature));
    EXPECT_EQ(prompts(), 2);
    Bytes reversed;
    for (int i = 31; i >= 0; --i)
        reversed.push_back(static_cast<unsigned char>(i));
    for (unsigned nth : {1u, 2u}) {
        const auto sign = standin().findCall("C_Sign", nth);
        ASSERT_TRUE(sign);
        EXPECT_EQ(standin().bytes(*sign, "data"), reversed);
    }
    const auto signInit = standin().findCall("C_SignInit");
    ASSERT_TRUE(signInit);
    EXPECT_EQ(standin().arg(*signInit, "mechanism"), static_cast<unsigned long>(CKM_GOSTR3410));
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_FALSE(loggedIn());

    // Logged in before the call: no prompt, logged out after it all the same.
    ASSERT_TRUE(isTrue(call("olvUserLoginDlg")));
    EXPECT_TRUE(isKeyText(call("olvSign", {variant("signer"), variant(kHash)})));
    EXPECT_EQ(prompts(), 3);
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, SignRefusesHashesOfOtherLengthsWithoutAPrompt) {
    present();
    generate("signer");
    standin().reset();
    std::string withZero = kHash;
    withZero[40] = '\0';
    // Non-hex characters and blanks that leave fewer than 32 bytes would sign a value the page
    // never wrote.
    const std::string nonHex = "G" + kHash.substr(1);
    const std::string halfBlank = kHash.substr(0, 32) + std::string(32, ' ');
    for (const std::string& hash : {kHash.substr(0, 63), kHash + "0", std::string(), withZero, nonHex, halfBlank})
        EXPECT_TRUE(isStatus(call("olvSign", {variant("signer"), variant(hash)}), -11)) << hash.size();
    EXPECT_EQ(prompts(), 1);
    EXPECT_EQ(callsOf("C_Login"), 0u);
    EXPECT_EQ(callsOf("C_SignInit"), 0u);
    // A missing hash is a failed conversion, reported by the invoke machinery.
    EXPECT_EQ(scriptErrorOf([&] { call("olvSign", {variant("signer")}); }),
              std::string("Could not convert from ") + typeid(FB::variant_detail::empty).name() + " to " +
                  typeid(std::string).name());
}

TEST_F(ApiToken, SignWithoutSuchKeyIsMinus20AfterLogout) {
    present();
    EXPECT_TRUE(isStatus(call("olvSign", {variant("nobody"), variant(kHash)}), -20));
    EXPECT_EQ(prompts(), 1);
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_EQ(callsOf("C_SignInit"), 0u);
    EXPECT_FALSE(loggedIn());
}

TEST_F(ApiToken, PublicKeyNeedsNoLogin) {
    present();
    const std::string key = generate("reader");
    standin().reset();
    EXPECT_TRUE(isText(call("olvGetPublicKey", {variant("reader")}), key));
    EXPECT_TRUE(isStatus(call("olvGetPublicKey", {variant("nobody")}), -20));
    EXPECT_EQ(prompts(), 1);
    EXPECT_EQ(callsOf("C_Login"), 0u);
    EXPECT_EQ(callsOf("C_Logout"), 0u);
}

TEST_F(ApiToken, DestroyRemovesBothKeysPrivateFirst) {
    present();
    generate("gone");
    layerLogin();
    const CK_OBJECT_HANDLE publicKey = layerFind("gone", 0);
    ASSERT_NE(layerFind("gone", 1), 0u);
    ASSERT_EQ(p11Logout(state().funcList, state().session), 0);
    standin().reset();

    EXPECT_TRUE(isTrue(call("olvDestroyContainer", {variant("gone")})));
    EXPECT_EQ(prompts(), 2);
    const auto first = standin().findCall("C_DestroyObject", 1), second = standin().findCall("C_DestroyObject", 2);
    ASSERT_TRUE(first && second);
    // Private handles are given out anew at every login; the public one stays.
    EXPECT_NE(standin().arg(*first, "object"), publicKey);
    EXPECT_EQ(standin().arg(*second, "object"), publicKey);
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(isStatus(call("olvGetPublicKey", {variant("gone")}), -20));

    standin().reset();
    EXPECT_TRUE(isStatus(call("olvDestroyContainer", {variant("gone")}), -20));
    EXPECT_EQ(prompts(), 3);
    EXPECT_EQ(callsOf("C_DestroyObject"), 0u);
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, DestroyNeedsBothKeys) {
    present();
    generate("nopriv");
    layerLogin();
    ASSERT_EQ(p11DestroyObject(state().funcList, state().session, layerFind("nopriv", 1)), 0);
    ASSERT_EQ(p11Logout(state().funcList, state().session), 0);
    standin().reset();
    EXPECT_TRUE(isStatus(call("olvDestroyContainer", {variant("nopriv")}), -20));
    EXPECT_EQ(callsOf("C_DestroyObject"), 0u);
    EXPECT_TRUE(isKeyText(call("olvGetPublicKey", {variant("nopriv")})));  // left alone
    EXPECT_FALSE(loggedIn());
}

// A failing module call ends the method with -80 - rv after a box; when the call needed the
// login, the user is logged out before the page hears of it, whatever C_Logout says.
TEST_F(ApiToken, ModuleFailuresReachThePageAfterLogout) {
    struct Fault {
        const char* function;
        unsigned nth;
        CK_RV rv;
    };
    const struct {
        const char* name;
        std::vector<Fault> faults;
        long expected;
        const char* caption;
    } cases[] = {
        {"search", {{"C_FindObjectsInit", 1, CKR_DEVICE_ERROR}}, callFailure(CKR_DEVICE_ERROR), "C_FindObjectsInit"},
        {"search, logout fails too",
         {{"C_FindObjectsInit", 1, CKR_DEVICE_ERROR}, {"C_Logout", 1, CKR_GENERAL_ERROR}},
         callFailure(CKR_DEVICE_ERROR), "C_FindObjectsInit"},
        {"sign init", {{"C_SignInit", 1, CKR_KEY_FUNCTION_NOT_PERMITTED}}, callFailure(CKR_KEY_FUNCTION_NOT_PERMITTED),
         "C_SignInit"},
        {"final logout", {{"C_Logout", 1, CKR_DEVICE_REMOVED}}, callFailure(CKR_DEVICE_REMOVED), "C_Logout"},
    };
    present();
    generate("signer");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Start logged out: the final-logout case leaves SoftHSM logged in.
        if (loggedIn()) {
            ASSERT_TRUE(isTrue(call("olvLogout")));
        }
        standin().reset();
        boxes_.clear();
        for (const Fault& f : c.faults)
            standin().fail(f.function, f.nth, f.rv);
        EXPECT_TRUE(isStatus(call("olvSign", {variant("signer"), variant(kHash)}), c.expected));
        EXPECT_EQ(standin().calls().back(), "C_Logout");
        EXPECT_EQ(callsOf("C_Logout"), 1u);
        ASSERT_FALSE(boxes_.boxes().empty());
        EXPECT_EQ(boxes_.boxes().front().caption, c.caption);
    }
}

TEST_F(ApiToken, SessionFailureStopsBeforeAnyOtherCall) {
    present();
    standin().fail("C_GetSessionInfo", 1, CKR_DEVICE_ERROR);
    EXPECT_TRUE(isStatus(call("olvSign", {variant("signer"), variant(kHash)}), callFailure(CKR_DEVICE_ERROR)));
    EXPECT_EQ(standin().calls(), std::vector<std::string>{"C_GetSessionInfo"});
    EXPECT_EQ(prompts(), 0);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0], (ShownBox{pkcs11ErrorText(CKR_DEVICE_ERROR), "C_GetSessionInfo"}));
}

TEST_F(ApiToken, RefusedKeyGenerationSurfacesAtTheKeyRead) {
    present();
    // The layer does not judge C_GenerateKeyPair: no key means handle 0, and reading it fails.
    standin().fail("C_GenerateKeyPair", 1, CKR_USER_NOT_LOGGED_IN);
    EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant("refused")}), callFailure(CKR_OBJECT_HANDLE_INVALID)));
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].caption, "C_GetAttributeValue 1");
    EXPECT_FALSE(loggedIn());

    standin().reset();
    boxes_.clear();
    standin().fail("C_GenerateKeyPair", 1, CKR_DEVICE_MEMORY);
    EXPECT_TRUE(isStatus(call("olvGenKeyPair", {variant("full")}), -40));
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiToken, DestroyFailingOnThePublicKeyLeavesThePrivateKeyDestroyed) {
    present();
    generate("split");
    standin().reset();
    standin().fail("C_DestroyObject", 2, CKR_DEVICE_ERROR);
    EXPECT_TRUE(isStatus(call("olvDestroyContainer", {variant("split")}), callFailure(CKR_DEVICE_ERROR)));
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_FALSE(loggedIn());
    EXPECT_TRUE(isKeyText(call("olvGetPublicKey", {variant("split")})));
    layerLogin();
    EXPECT_EQ(layerFind("split", 1), 0u);
}

TEST_F(ApiToken, OversizedValuesAreRefusedNotCopied) {
    present();
    generate("big");
    standin().reset();
    standin().oversize(Standin::ckaValue(), 65);
    EXPECT_TRUE(isStatus(call("olvGetPublicKey", {variant("big")}), -10));
    standin().reset();
    standin().oversize(Standin::signature(), 65);
    EXPECT_TRUE(isStatus(call("olvSign", {variant("big"), variant(kHash)}), -10));
    EXPECT_EQ(standin().calls().back(), "C_Logout");
    EXPECT_FALSE(loggedIn());
}

TEST_F(ApiToken, MethodsOfAGonePluginObjectTouchNothing) {
    present();
    // The page still holds the scripting object after the plug-in object went away.
    p11UnloadModule(state().pkcs11Module, state().funcList);
    loaded_ = false;
    std::weak_ptr<TokenOwner> weak = owner_;
    owner_.reset();
    ASSERT_TRUE(weak.expired());
    standin().reset();
    EXPECT_EQ(scriptErrorOf([&] { call("olvIsTokenPresentAndOK"); }), "The plugin is invalid");
    EXPECT_EQ(scriptErrorOf([&] { call("olvSign", {variant("x"), variant(kHash)}); }), "The plugin is invalid");
    EXPECT_EQ(standin().callCount(), 0u);
    EXPECT_EQ(prompts(), 0);
}

} // namespace
