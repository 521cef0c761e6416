// One request, one answer: requests run through the root object's Invoke (orvantaAPI here,
// with no token module loaded), answers carry the result or the framework's own message,
// malformed requests get a clear error, and an origin that may not use the token never
// reaches the root object.

#include "RequestDispatcher.h"

#include "ApiCalls.h"
#include "JSAPIAuto.h"
#include "JsonVariant.h"
#include "MethodConverter.h"
#include "NativeMessageFrame.h"
#include "RecordingErrorBox.h"
#include "api/TokenProbe.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace FB::NativeMessaging;
using namespace FB::Consent;
using namespace orv;
using nlohmann::json;

const char kOrigin[] = "https://bank.example";
const char kDeniedOrigin[] = "https://evil.example";

// A root object for what orvantaAPI cannot show: the origin seen during a call, answers
// too long for the browser, and values that have no JSON form.
class Probe : public FB::JSAPIAuto {
public:
    explicit Probe(const std::string* origin) : origin_(origin) {
        registerMethod("origin", FB::make_method(this, &Probe::origin));
        registerMethod("big", FB::make_method(this, &Probe::big));
        registerMethod("object", FB::make_method(this, &Probe::object));
        registerMethod("nothing", FB::make_method(this, &Probe::nothing));
    }
    std::string origin() { return *origin_; }
    std::string big() { return std::string(kMaxMessageToBrowser, 'b'); }
    FB::variant object() { return FB::variant(FB::JSAPIPtr()); }
    FB::variant nothing() { return FB::variant(); }

private:
    const std::string* origin_;
};

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(moduleLoadCount, 0);
        file_ = fs::temp_directory_path() /
                ("orvanta-dispatch-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove(file_);
        list_ = std::make_unique<AllowedOrigins>(file_.string());
        list_->remember(kOrigin, true);
        list_->remember(kDeniedOrigin, false);
        gate_ = std::make_unique<OriginGate>(*list_, [this](const std::string&) {
            ++prompts_;
            return PromptAnswer::Deny;
        });
        owner_ = std::make_shared<TokenOwner>();
        api_ = std::make_shared<orvantaAPI>(owner_, nullptr);
        use(api_);
    }
    void TearDown() override { fs::remove(file_); }

    void use(const FB::JSAPIPtr& root) {
        dispatcher_ = std::make_unique<RequestDispatcher>(
            [this, root] {
                ++rootsMade_;
                return root;
            },
            *gate_, [this](const std::string& origin) { scopeOrigin_ = origin; });
    }

    json answer(const std::string& request) {
        const std::string text = dispatcher_->handle(request);
        EXPECT_LE(text.size(), kMaxMessageToBrowser);
        return json::parse(text);
    }
    json call(const std::string& method, const json& args) {
        return answer(json{{"id", 1}, {"origin", kOrigin}, {"method", method}, {"args", args}}.dump());
    }

    // What the root object itself answers or throws for this call, as the page would see it.
    json direct(const std::string& method, const FB::VariantList& args) {
        try {
            return json{{"id", 1}, {"result", variantToJson(api_->Invoke(method, args))}};
        } catch (const FB::script_error& e) {
            return json{{"id", 1}, {"error", e.what()}};
        }
    }

    test::RecordingErrorBox boxes_;
    fs::path file_;
    std::unique_ptr<AllowedOrigins> list_;
    std::unique_ptr<OriginGate> gate_;
    TokenOwnerPtr owner_;
    std::shared_ptr<orvantaAPI> api_;
    std::unique_ptr<RequestDispatcher> dispatcher_;
    std::string scopeOrigin_;
    int prompts_ = 0;
    int rootsMade_ = 0;
};

TEST_F(Dispatcher, CallsAndThePropertyAnswerThePluginsValues) {
    EXPECT_EQ(call("get_version", json::array()), (json{{"id", 1}, {"result", "1.1"}}));
    EXPECT_EQ(answer(R"({"id":"v","origin":"https://bank.example","get":"version"})"),
              (json{{"id", "v"}, {"result", "1.1"}}));
    // No module is loaded: the token methods answer their status, not an error.
    EXPECT_EQ(call("olvIsTokenPresentAndOK", json::array()), (json{{"id", 1}, {"result", -51}}));
    EXPECT_EQ(call("olvGetNumberOfContainers", json::array()), (json{{"id", 1}, {"result", -51}}));
    const json signature = call("olvRepair", json::array({std::string(64, 'K'), test::countingHash()}));
    ASSERT_TRUE(signature.contains("result")) << signature;
    EXPECT_TRUE(test::isKeyText(FB::variant(signature["result"].get<std::string>())));
    // Arguments may be left out when there are none.
    EXPECT_EQ(answer(R"({"id":2,"origin":"https://bank.example","method":"get_version"})"),
              (json{{"id", 2}, {"result", "1.1"}}));
    EXPECT_EQ(answer(R"({"id":3,"origin":"https://bank.example","method":"get_version","args":null})"),
              (json{{"id", 3}, {"result", "1.1"}}));
    EXPECT_EQ(rootsMade_, 1);
}

TEST_F(Dispatcher, FailedCallsCarryTheFrameworksOwnMessage) {
    struct Case {
        const char* method;
        json args;
        FB::VariantList variants;
    };
    const std::vector<Case> cases = {
        {"olvNoSuchMethod", json::array(), {}},
        {"version", json::array(), {}},
        {"olvGetContainerName", json::array({"abc"}), {FB::variant(std::string("abc"))}},
        {"olvGetContainerName", json::array({json::object()}), {FB::variant(FB::VariantMap())}},
        {"olvGetContainerName", json::array({nullptr}), {FB::variant(FB::variant_detail::null())}},
        {"olvGetContainerName", json::array(), {}},
        {"olvRepair", json::array({json::array({1}), "00"}),
         {FB::variant(FB::VariantList{FB::variant(1.0)}), FB::variant(std::string("00"))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.args.dump());
        const json expected = direct(c.method, c.variants);
        ASSERT_TRUE(expected.contains("error")) << "not a failing call: " << expected;
        EXPECT_FALSE(expected["error"].get<std::string>().empty());
        EXPECT_EQ(call(c.method, c.args), expected);
    }
    EXPECT_EQ(call("olvNoSuchMethod", json::array())["error"],
              "The specified member does not exist: olvNoSuchMethod");
}

TEST_F(Dispatcher, MalformedRequestsGetAClearErrorAndTheNextRequestStillWorks) {
    struct Case {
        std::string request;
        json id;
        std::string error;  // the start of the message
    };
    const std::vector<Case> cases = {
        {"", nullptr, "The request is not valid JSON"},
        {"{\"id\":1,", nullptr, "The request is not valid JSON"},
        {std::string("{\"id\":1,\"origin\":\"https://bank.example\",\"method\":\"get_version\",\"x\":\"\xC3\x28\"}"),
         nullptr, "The request is not valid JSON"},
        {"[1,2]", nullptr, "The request is not a JSON object"},
        {"\"get_version\"", nullptr, "The request is not a JSON object"},
        {"42", nullptr, "The request is not a JSON object"},
        {R"({"origin":"https://bank.example","method":"get_version"})", nullptr, "The request has no id"},
        {R"({"id":{},"origin":"https://bank.example","method":"get_version"})", nullptr, "The request has no id"},
        {R"({"id":null,"origin":"https://bank.example","method":"get_version"})", nullptr, "The request has no id"},
        {R"({"id":4,"method":"get_version"})", 4, "The request does not name the page's origin"},
        {R"({"id":5,"origin":7,"method":"get_version"})", 5, "The request does not name the page's origin"},
        {R"({"id":6,"origin":"https://bank.example"})", 6, "The request names neither"},
        {R"({"id":7,"origin":"https://bank.example","method":"get_version","get":"version"})", 7,
         "The request names neither"},
        {R"({"id":8,"origin":"https://bank.example","method":["get_version"]})", 8, "The member name is not a string"},
        {R"({"id":9,"origin":"https://bank.example","method":"olvSign","args":"a,b"})", 9,
         "The arguments are not an array"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const json reply = answer(c.request);
        EXPECT_EQ(reply["id"], c.id);
        ASSERT_TRUE(reply.contains("error"));
        EXPECT_EQ(reply["error"].get<std::string>().rfind(c.error, 0), 0u) << reply;
        EXPECT_FALSE(reply.contains("result"));
        EXPECT_EQ(call("get_version", json::array()), (json{{"id", 1}, {"result", "1.1"}}));
    }
}

TEST_F(Dispatcher, ARefusedOriginNeverReachesTheRootObject) {
    for (const char* origin : {kDeniedOrigin, "http://evil.example", "null"}) {
        SCOPED_TRACE(origin);
        for (const char* method : {"olvIsTokenPresentAndOK", "get_version", "olvNoSuchMethod"}) {
            const json reply = answer(json{{"id", 1}, {"origin", origin}, {"method", method}}.dump());
            ASSERT_TRUE(reply.contains("error")) << reply;
            EXPECT_NE(reply["error"].get<std::string>().find(origin), std::string::npos) << reply;
        }
        const json property = answer(json{{"id", 2}, {"origin", origin}, {"get", "version"}}.dump());
        EXPECT_TRUE(property.contains("error")) << property;
    }
    EXPECT_EQ(rootsMade_, 0);  // no plug-in instance, so no module load
    EXPECT_EQ(prompts_, 0);    // a remembered no, and insecure origins, are never asked about
    EXPECT_EQ(call("get_version", json::array())["result"], "1.1");
    EXPECT_EQ(rootsMade_, 1);
}

TEST_F(Dispatcher, TheOriginIsKnownDuringTheCallOnly) {
    use(std::make_shared<Probe>(&scopeOrigin_));
    EXPECT_EQ(call("origin", json::array())["result"], kOrigin);
    EXPECT_EQ(scopeOrigin_, "");
    EXPECT_TRUE(call("olvNoSuch", json::array()).contains("error"));
    EXPECT_EQ(scopeOrigin_, "");
}

TEST_F(Dispatcher, AnswersTheBrowserCannotTakeBecomeErrors) {
    use(std::make_shared<Probe>(&scopeOrigin_));
    const json big = call("big", json::array());
    EXPECT_NE(big["error"].get<std::string>().find("more than the browser accepts"), std::string::npos) << big;
    EXPECT_NE(call("object", json::array())["error"].get<std::string>().find("cannot be passed to the page"),
              std::string::npos);
    // Script undefined: an answer without a result.
    EXPECT_EQ(call("nothing", json::array()), (json{{"id", 1}}));
}

TEST_F(Dispatcher, StatusTellsTheHostsVersionAndTheTokenOnlyToAnAllowedOrigin) {
    int probes = 0;
    dispatcher_->setStatusSource("9.8.7", [&probes](const RequestDispatcher::RootSource& root) {
        ++probes;
        EXPECT_TRUE(root());
        FB::VariantMap found;
        found["module"] = std::string("loaded");
        found["token"] = std::string("present");
        return found;
    });
    const auto status = [this](const std::string& origin) {
        return answer(json{{"id", 5}, {"origin", origin}, {"query", "status"}}.dump());
    };
    const std::string refused = "The page origin https://evil.example is not allowed to use the token";
    struct Case {
        std::string origin;
        json result;
    };
    const std::vector<Case> cases = {
        {"https://new.example", {{"host", "9.8.7"}, {"origin", "not-asked"}}},
        {kDeniedOrigin, {{"host", "9.8.7"}, {"origin", "refused"}, {"reason", refused}}},
        {kOrigin, {{"host", "9.8.7"}, {"origin", "allowed"}, {"module", "loaded"}, {"token", "present"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.origin);
        EXPECT_EQ(status(c.origin), (json{{"id", 5}, {"result", c.result}}));
    }
    const json insecure = status("http://evil.example");
    EXPECT_EQ(insecure["result"]["origin"], "refused");
    EXPECT_NE(insecure["result"]["reason"].get<std::string>().find("is not a secure origin"), std::string::npos);
    // Nobody was asked; only the allowed origin reached the token probe and the root object.
    EXPECT_EQ(prompts_, 0);
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(rootsMade_, 1);
    // The unasked origin is still unasked: its first call puts the question.
    EXPECT_TRUE(answer(json{{"id", 6}, {"origin", "https://new.example"}, {"method", "get_version"}}.dump())
                    .contains("error"));
    EXPECT_EQ(prompts_, 1);
}

TEST_F(Dispatcher, StatusQueriesThatCannotBeAnsweredGetAClearError) {
    for (const char* request : {R"({"id":1,"origin":"https://bank.example","query":"status","method":"get_version"})",
                                R"({"id":1,"origin":"https://bank.example","query":"status","get":"version"})",
                                R"({"id":1,"origin":"https://bank.example","query":"tokens"})",
                                R"({"id":1,"origin":"https://bank.example","query":7})"}) {
        SCOPED_TRACE(request);
        const json reply = answer(request);
        EXPECT_EQ(reply["id"], 1);
        EXPECT_TRUE(reply.contains("error")) << reply;
    }
    EXPECT_EQ(rootsMade_, 0);
    EXPECT_EQ(call("get_version", json::array()), (json{{"id", 1}, {"result", "1.1"}}));
}

TEST_F(Dispatcher, TheTokenProbeShowsNoBoxAndTellsWhatTheModuleDid) {
    // No module is loaded here (-51): the probe says so and shows nothing.
    dispatcher_->setStatusSource("1.1.0", probeTokenQuietly);
    const json reply = answer(json{{"id", 1}, {"origin", kOrigin}, {"query", "status"}}.dump());
    EXPECT_EQ(reply, (json{{"id", 1},
                           {"result", {{"host", "1.1.0"}, {"origin", "allowed"}, {"module", "failed"},
                                       {"moduleStatus", -51}}}}));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST(TokenProbe, KeepsTheBoxesOfAFailingModuleAndTellsTheirText) {
    test::RecordingErrorBox shown;
    class Failing : public FB::JSAPIAuto {
    public:
        Failing() { registerMethod("olvIsTokenPresentAndOK", FB::make_method(this, &Failing::present)); }
        FB::variant present() {
            showMessageBox("Error loading pkcs11 library 0x0000007E", "Error");
            return FB::variant(static_cast<long>(p11status::kModuleNotLoaded));
        }
    };
    class Answering : public FB::JSAPIAuto {
    public:
        explicit Answering(FB::variant value) : value_(std::move(value)) {
            registerMethod("olvIsTokenPresentAndOK", FB::make_method(this, &Answering::present));
        }
        FB::variant present() { return value_; }

    private:
        FB::variant value_;
    };
    const FB::VariantMap failed = probeTokenQuietly([] { return std::make_shared<Failing>(); });
    EXPECT_EQ(variantToJson(FB::variant(failed)),
              (json{{"module", "failed"}, {"moduleError", "Error loading pkcs11 library 0x0000007E"},
                    {"moduleStatus", -51}}));
    EXPECT_TRUE(shown.boxes().empty());
    // After the probe the person's boxes are shown again.
    showMessageBox("later", "Error");
    EXPECT_EQ(shown.boxes().size(), 1u);

    struct Case {
        FB::variant answer;
        json found;
    };
    const std::vector<Case> cases = {
        {FB::variant(true), {{"module", "loaded"}, {"token", "present"}}},
        {FB::variant(-1L), {{"module", "loaded"}, {"token", "absent"}}},
        {FB::variant(-50L), {{"module", "failed"}, {"moduleStatus", -50}}},
        {FB::variant(-85L), {{"module", "loaded"}, {"token", "failed"}, {"tokenStatus", -85}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(variantToJson(c.answer).dump());
        const FB::VariantMap found = probeTokenQuietly([&c] { return std::make_shared<Answering>(c.answer); });
        EXPECT_EQ(variantToJson(FB::variant(found)), c.found);
    }
}

TEST(DispatcherRefusal, HasNoId) {
    EXPECT_EQ(json::parse(RequestDispatcher::refusal("too long")), (json{{"id", nullptr}, {"error", "too long"}}));
}

} // namespace
