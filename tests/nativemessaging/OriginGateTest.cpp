// Which page origins reach the token: the secure-origin rule, the person's answers asked
// once and remembered in the allowed-origins file, and what happens when no prompt can be
// shown or the file cannot be written.

#include "OriginGate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace FB::NativeMessaging;

struct OriginCase {
    const char* origin;
    bool secure;
};

class SecureOrigin : public ::testing::TestWithParam<OriginCase> {};

TEST_P(SecureOrigin, IsJudged) {
    EXPECT_EQ(isSecureOrigin(GetParam().origin), GetParam().secure) << GetParam().origin;
}

INSTANTIATE_TEST_SUITE_P(
    Origins, SecureOrigin,
    ::testing::Values(OriginCase{"https://bank.example", true}, OriginCase{"https://bank.example:8443", true},
                      OriginCase{"http://localhost:8080", true}, OriginCase{"http://127.0.0.1", true},
                      OriginCase{"http://127.0.0.1:5000", true}, OriginCase{"http://[::1]:80", true},
                      OriginCase{"https://[2001:db8::1]", true}, OriginCase{"file://", true},
                      OriginCase{"http://bank.example", false}, OriginCase{"http://localhost.evil.example", false},
                      OriginCase{"null", false}, OriginCase{"", false}, OriginCase{"https://", false},
                      OriginCase{"https://bank.example/path", false}, OriginCase{"https://Bank.example", false},
                      OriginCase{"https://bank example", false}, OriginCase{"https://bank.example\nallow x", false},
                      OriginCase{"https://bank.example:", false}, OriginCase{"https://bank.example:99999x", false},
                      OriginCase{"chrome-extension://abc", false}, OriginCase{"ftp://bank.example", false},
                      OriginCase{"https://user@bank.example", false}));

class Gate : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("orvanta-origins-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        path_ = (folder_ / "config" / "orvanta" / "allowed-origins").string();
    }
    void TearDown() override { fs::remove_all(folder_); }

    OriginGate::Prompt answering(PromptAnswer answer) {
        return [this, answer](const std::string& origin) {
            asked_.push_back(origin);
            return answer;
        };
    }

    std::string fileText() const {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path folder_;
    std::string path_;
    std::vector<std::string> asked_;
};

TEST_F(Gate, AnAllowedAnswerIsAskedOnceAndRemembered) {
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::Allow));
    EXPECT_EQ(gate.check("https://bank.example"), "");
    EXPECT_EQ(gate.check("https://bank.example"), "");
    EXPECT_EQ(asked_, std::vector<std::string>{"https://bank.example"});
    EXPECT_NE(fileText().find("\nallow https://bank.example\n"), std::string::npos) << fileText();

    // Another connection (another process) reads the same answer without asking.
    AllowedOrigins again(path_);
    OriginGate later(again, answering(PromptAnswer::Deny));
    EXPECT_EQ(later.check("https://bank.example"), "");
    EXPECT_EQ(asked_.size(), 1u);
}

TEST_F(Gate, ADeniedOriginIsRefusedFromThenOnWithoutAsking) {
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::Deny));
    const std::string refusal = "The page origin https://evil.example is not allowed to use the token";
    EXPECT_EQ(gate.check("https://evil.example"), refusal);
    EXPECT_EQ(gate.check("https://evil.example"), refusal);
    EXPECT_EQ(asked_.size(), 1u);
    EXPECT_NE(fileText().find("deny https://evil.example\n"), std::string::npos);
}

TEST_F(Gate, NoAnswerRefusesThisTimeAndAsksAgainNextTime) {
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::NoAnswer));
    EXPECT_NE(gate.check("https://bank.example").find("could not be shown"), std::string::npos);
    EXPECT_NE(gate.check("https://bank.example"), "");
    EXPECT_EQ(asked_.size(), 2u);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(Gate, AnInsecureOriginIsRefusedWithoutAskingEvenWhenListed) {
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_) << "allow http://bank.example\n";
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::Allow));
    EXPECT_NE(gate.check("http://bank.example").find("not a secure origin"), std::string::npos);
    EXPECT_NE(gate.check("null").find("not a secure origin"), std::string::npos);
    EXPECT_TRUE(asked_.empty());
}

TEST_F(Gate, TheFileKeepsOtherAnswersAndIgnoresLinesItDoesNotKnow) {
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_, std::ios::binary)
        << "# mine\r\n  allow https://a.example \r\r\nperhaps https://b.example\ndeny https://c.example\t\nallow\n";
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::Allow));
    EXPECT_EQ(gate.check("https://a.example"), "");
    EXPECT_NE(gate.check("https://c.example"), "");
    EXPECT_TRUE(asked_.empty());
    EXPECT_EQ(gate.check("https://b.example"), "");  // "perhaps" is no answer: asked
    EXPECT_EQ(asked_.size(), 1u);
    const std::string text = fileText();
    EXPECT_NE(text.find("allow https://a.example\n"), std::string::npos) << text;
    EXPECT_NE(text.find("allow https://b.example\n"), std::string::npos) << text;
    EXPECT_NE(text.find("deny https://c.example\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("perhaps"), std::string::npos) << text;
}

TEST_F(Gate, AnAnswerThatCannotBeWrittenStillHoldsForThisRequest) {
    fs::create_directories(folder_);
    std::ofstream((folder_ / "config").string()) << "a file where the folder should be";
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::Allow));
    EXPECT_EQ(gate.check("https://bank.example"), "");
    EXPECT_EQ(asked_.size(), 1u);
}

} // namespace
