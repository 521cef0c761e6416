// Which page origins reach the token: the secure-origin rule, the person's answers asked
// once and remembered in the allowed-origins file, and what happens when no prompt can be
// shown or the file cannot be written.

#include "OriginGate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace FB::Consent;

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
                      OriginCase{"http://127.0.0.1:5000", true}, OriginCase{"http://127.255.255.254", true},
                      OriginCase{"http://[::1]:80", true}, OriginCase{"https://[2001:db8::1]", true},
                      OriginCase{"http://bank.example", false}, OriginCase{"http://localhost.evil.example", false},
                      // Names that merely start like a loopback address are somebody's DNS names.
                      OriginCase{"http://127.evil.example", false}, OriginCase{"http://127.0.0.1.nip.io", false},
                      OriginCase{"http://127.0.0.1.", false}, OriginCase{"http://127.1", false},
                      OriginCase{"http://127.0.0", false}, OriginCase{"http://127.0.0.256", false},
                      OriginCase{"http://127.0.0.1000", false}, OriginCase{"http://0127.0.0.1", false},
                      OriginCase{"http://128.0.0.1", false}, OriginCase{"http://10.0.0.1", false},
                      OriginCase{"http://[::2]", false}, OriginCase{"http://localhost.", false},
                      // Every local file shares one origin, and opaque origins have none.
                      OriginCase{"file://", false}, OriginCase{"file:///home/me/mail.html", false},
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

// The administrator's list answers for every user before the person's own: its origins
// are never asked about, and its "deny" holds whatever the person said.
TEST_F(Gate, TheMachineListAnswersBeforeThePersonsAndIsNeverAsked) {
    const fs::path machine = folder_ / "etc" / "allowed-origins";
    fs::create_directories(machine.parent_path());
    std::ofstream(machine) << "allow https://bank.example\ndeny https://tracker.example\n";
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_) << "allow https://tracker.example\n";

    AllowedOrigins list(path_);
    AllowedOrigins machineList(machine.string());
    OriginGate gate(list, answering(PromptAnswer::Allow));
    gate.setMachineList(&machineList);
    EXPECT_EQ(gate.check("https://bank.example"), "");
    EXPECT_EQ(gate.check("https://tracker.example"),
              "The page origin https://tracker.example is not allowed to use the token");
    EXPECT_TRUE(asked_.empty());
    EXPECT_EQ(fileText(), "allow https://tracker.example\n");  // nothing written for the machine's answers

    // Origins the administrator did not name are the person's to answer.
    EXPECT_EQ(gate.check("https://shop.example"), "");
    EXPECT_EQ(asked_, std::vector<std::string>{"https://shop.example"});
    // A machine list that is missing holds no answers.
    fs::remove(machine);
    EXPECT_EQ(gate.check("https://tracker.example"), "");
}

// Where an origin stands is read without a prompt, whatever the answer would be: the
// administrator's list first, then the person's; an unreadable file refuses everyone.
TEST_F(Gate, StandingIsToldWithoutAskingAnybody) {
    const fs::path machine = folder_ / "etc" / "allowed-origins";
    fs::create_directories(machine.parent_path());
    std::ofstream(machine) << "allow https://managed.example\ndeny https://tracker.example\n";
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_) << "allow https://bank.example\nallow https://tracker.example\ndeny https://evil.example\n";
    AllowedOrigins list(path_);
    AllowedOrigins machineList(machine.string());
    OriginGate gate(list, answering(PromptAnswer::Allow));
    gate.setMachineList(&machineList);
    struct Case {
        const char* origin;
        OriginGate::Standing standing;
        const char* refusal;  // the start of it
    };
    const std::vector<Case> cases = {
        {"https://bank.example", OriginGate::Standing::Allowed, ""},
        {"https://managed.example", OriginGate::Standing::Allowed, ""},
        {"https://shop.example", OriginGate::Standing::NotAsked, ""},
        {"https://evil.example", OriginGate::Standing::Refused, "The page origin https://evil.example is not allowed"},
        {"https://tracker.example", OriginGate::Standing::Refused, "The page origin https://tracker.example is not allowed"},
        {"http://shop.example", OriginGate::Standing::Refused, "The page origin \"http://shop.example\" is not a secure"},
        {"null", OriginGate::Standing::Refused, "The page origin \"null\" is not a secure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.origin);
        std::string refusal = "left over";
        EXPECT_EQ(gate.standing(c.origin, refusal), c.standing);
        EXPECT_EQ(refusal.rfind(c.refusal, 0), 0u) << refusal;
        if (c.standing != OriginGate::Standing::Refused) {
            EXPECT_EQ(refusal, "");
        }
    }
    EXPECT_TRUE(asked_.empty());
    EXPECT_FALSE(fs::exists(path_ + ".lock"));  // nobody waited for a prompt either

    fs::remove(path_);
    fs::create_directories(path_);  // a folder where the file should be
    std::string refusal;
    EXPECT_EQ(gate.standing("https://bank.example", refusal), OriginGate::Standing::Refused);
    EXPECT_NE(refusal.find("cannot be read"), std::string::npos) << refusal;
    EXPECT_TRUE(asked_.empty());
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

// A prompt closed without an answer, or one that could not be shown, holds the origin back
// for a minute in every process that shares the file, then it is asked again; nothing goes
// into the list of answers.
TEST_F(Gate, ADismissedOrUnshownPromptHoldsTheOriginBackForAWhile) {
    const struct {
        PromptAnswer answer;
        const char* says;
    } cases[] = {{PromptAnswer::Dismissed, "the permission prompt was dismissed"},
                 {PromptAnswer::NoAnswer, "the permission prompt could not be shown"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        fs::remove_all(folder_);
        asked_.clear();
        auto now = std::chrono::system_clock::now();
        const OriginGate::Clock clock = [&now] { return now; };
        AllowedOrigins list(path_);
        OriginGate gate(list, answering(c.answer), clock);
        EXPECT_NE(gate.check("https://bank.example").find(c.says), std::string::npos);
        const std::string held = gate.check("https://bank.example");
        EXPECT_NE(held.find("not shown again for 60 s"), std::string::npos) << held;

        // Another process: held back too, without a prompt; other origins are still asked.
        AllowedOrigins again(path_);
        OriginGate other(again, answering(c.answer), clock);
        now += std::chrono::seconds(30);
        EXPECT_NE(other.check("https://bank.example").find("not shown again for 30 s"), std::string::npos);
        EXPECT_EQ(asked_, std::vector<std::string>{"https://bank.example"});
        other.check("https://other.example");
        EXPECT_EQ(asked_.size(), 2u);

        now += std::chrono::seconds(31);
        EXPECT_NE(other.check("https://bank.example"), "");
        EXPECT_EQ(asked_.size(), 3u);
        EXPECT_FALSE(fs::exists(path_));
    }
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

// A file that is there but cannot be read is not an empty list: every page is refused until
// it can be read, nobody is asked, and the file (a "deny" in it, say) is not written over.
TEST_F(Gate, AFileThatCannotBeReadIsKeptAndRefusesEveryPage) {
    fs::create_directories(path_);  // a folder where the file should be
    AllowedOrigins list(path_);
    OriginGate gate(list, answering(PromptAnswer::Allow));
    const std::string refusal = gate.check("https://bank.example");
    EXPECT_NE(refusal.find("cannot be read"), std::string::npos) << refusal;
    EXPECT_TRUE(asked_.empty());
    std::string why;
    EXPECT_FALSE(list.remember("https://bank.example", true, &why));
    EXPECT_NE(why.find("cannot be read"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_directory(path_));
#ifndef _WIN32
    if (geteuid() != 0) {  // root reads any file
        fs::remove_all(path_);
        std::ofstream(path_) << "deny https://evil.example\n";
        chmod(path_.c_str(), 0);
        AllowedOrigins unreadable(path_);
        OriginGate refusing(unreadable, answering(PromptAnswer::Allow));
        EXPECT_NE(refusing.check("https://evil.example").find("cannot be read"), std::string::npos);
        EXPECT_FALSE(unreadable.remember("https://evil.example", true));
        chmod(path_.c_str(), 0600);
        EXPECT_EQ(fileText(), "deny https://evil.example\n");
        EXPECT_TRUE(asked_.empty());
    }
#endif
}

#ifndef _WIN32
// Which sites use the token is nobody else's business, whatever the umask.
TEST_F(Gate, TheFileAndTheFoldersMadeForItArePrivate) {
    const mode_t previous = umask(0);
    AllowedOrigins list(path_);
    EXPECT_TRUE(list.remember("https://bank.example", true));
    umask(previous);
    struct stat info;
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    for (const fs::path& folder : {fs::path(path_).parent_path(), fs::path(path_).parent_path().parent_path()}) {
        ASSERT_EQ(stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
}
#endif

// Writers in many threads, each with its own list as each process has: no answer is lost.
TEST_F(Gate, AnswersWrittenAtOnceAreAllKept) {
    constexpr int kWriters = 12;
    constexpr int kEach = 15;
    std::vector<std::thread> writers;
    std::atomic<int> failed{0};
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            AllowedOrigins list(path_);
            for (int i = 0; i < kEach; ++i)
                if (!list.remember("https://w" + std::to_string(w) + "-" + std::to_string(i) + ".example", i % 2 == 0))
                    ++failed;
        });
    }
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(failed.load(), 0);
    AllowedOrigins list(path_);
    ASSERT_TRUE(list.load());
    int kept = 0;
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kEach; ++i)
            kept += list.answerFor("https://w" + std::to_string(w) + "-" + std::to_string(i) + ".example") ==
                    (i % 2 == 0 ? AllowedOrigins::Answer::Allowed : AllowedOrigins::Answer::Denied);
    EXPECT_EQ(kept, kWriters * kEach);
    // Nothing left beside it but the lock.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(path_).parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"allowed-origins", "allowed-origins.lock"}));
}

// Six connections of one page at once (each its own gate and list, as each host process has):
// one prompt, and the others take its answer.
TEST_F(Gate, OnePromptAtATimeAndTheOthersTakeItsAnswer) {
    std::atomic<int> open{0};
    std::atomic<int> most{0};
    std::atomic<int> prompts{0};
    const OriginGate::Prompt slow = [&](const std::string&) {
        ++prompts;
        const int now = ++open;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --open;
        return PromptAnswer::Allow;
    };
    std::vector<std::thread> connections;
    std::atomic<int> allowed{0};
    for (int i = 0; i < 6; ++i) {
        connections.emplace_back([&] {
            AllowedOrigins list(path_);
            OriginGate gate(list, slow);
            allowed += gate.check("https://bank.example").empty();
        });
    }
    for (std::thread& t : connections)
        t.join();
    EXPECT_EQ(prompts.load(), 1);
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(allowed.load(), 6);
}

} // namespace
