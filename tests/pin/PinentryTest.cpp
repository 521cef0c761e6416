// The built-in PIN entry and error box on Linux: a pinentry program spoken to over Assuan.
// A scripted peer shows exactly what is said; Debian's pinentry-tty on a pseudo-terminal
// shows that a real one understands it. No companion is installed in this process.

#include "../token/TokenFixture.h"

#include "ErrorBox.h"
#include "PinTestSupport.h"
#include "PlatformUi.h"
#include "Posix/Pinentry.h"
#include "pin/OriginPrompt.h"
#include "pin/PinEntry.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orv;
using namespace orv::test;
namespace fs = std::filesystem;

// Environment of the scripted peer, restored after each test.
class PeerEnvironment {
public:
    PeerEnvironment() {
        char pattern[] = "/tmp/orvanta-pin.XXXXXX";
        folder_ = mkdtemp(pattern);
        setenv("ORVANTA_PINENTRY", ORV_SCRIPTED_PINENTRY, 1);
        setenv("PEER_LOG", log().c_str(), 1);
        for (const char* name : {"PEER_MODE", "PEER_PIN_DATA", "PEER_HOLD", "PEER_CONFIRM"})
            unsetenv(name);
    }
    ~PeerEnvironment() {
        for (const char* name :
             {"ORVANTA_PINENTRY", "PEER_LOG", "PEER_MODE", "PEER_PIN_DATA", "PEER_HOLD", "PEER_CONFIRM"})
            unsetenv(name);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string log() const { return folder_ + "/log"; }
    const std::string& folder() const { return folder_; }

    // What the peer received, without the terminal options a terminal run adds.
    std::vector<std::string> received() const {
        std::vector<std::string> lines;
        std::ifstream in(log());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("OPTION ", 0) != 0)
                lines.push_back(line);
        return lines;
    }

private:
    std::string folder_;
};

const std::vector<std::string> kPinConversation = {
    "START", "SETTITLE Ввод пин-кода", "SETPROMPT Введите пин-код", "SETOK OK", "SETCANCEL Отмена",
    "GETPIN", "BYE"};

TEST(ScriptedPinentry, AsksWithTheDialogsTextsAndWipesTheBuffer) {
    PeerEnvironment peer;
    setenv("PEER_PIN_DATA", "654321", 1);
    const Entered entered = ask();
    EXPECT_EQ(entered.result, 1);
    EXPECT_EQ(entered.pin, "654321");
    EXPECT_EQ(peer.received(), kPinConversation);
    EXPECT_TRUE(pinBufferWiped());
}

// A host serving a page in another process names the page's origin in the prompt.
TEST(ScriptedPinentry, NamesTheAskingSiteWhenThereIsOne) {
    PeerEnvironment peer;
    setenv("PEER_PIN_DATA", "654321", 1);
    setPinRequestOrigin("https://bank.example");
    const Entered entered = ask();
    setPinRequestOrigin(std::string());
    EXPECT_EQ(entered.result, 1);
    EXPECT_EQ(entered.pin, "654321");
    EXPECT_EQ(peer.received(),
              (std::vector<std::string>{"START", "SETTITLE Ввод пин-кода", "SETPROMPT Введите пин-код",
                                        "SETDESC Сайт: https://bank.example", "SETOK OK", "SETCANCEL Отмена",
                                        "GETPIN", "BYE"}));
    ask();
    const std::vector<std::string> both = peer.received();
    EXPECT_EQ(std::count(both.begin(), both.end(), "SETDESC Сайт: https://bank.example"), 1)
        << "the origin outlived its request";
}

TEST(ScriptedPinentry, OriginPermissionIsTheConfirmCommand) {
    struct Case {
        const char* confirm;  // PEER_CONFIRM
        const char* mode;     // PEER_MODE
        OriginAnswer answer;
    };
    const Case cases[] = {
        // Enter presses OK, which denies; allowing takes the other button.
        {"yes", "pin", OriginAnswer::Deny},
        {"notok", "pin", OriginAnswer::Allow},
        {"no", "pin", OriginAnswer::Dismissed},
        // A pinentry that cannot show anything is no answer, not a no to remember.
        {"nodevice", "pin", OriginAnswer::NoAnswer},
        {"yes", "mute", OriginAnswer::NoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.confirm) + " " + c.mode);
        PeerEnvironment peer;
        setenv("PEER_CONFIRM", c.confirm, 1);
        setenv("PEER_MODE", c.mode, 1);
        EXPECT_EQ(askOriginPermission("https://bank.example:8443"), c.answer);
        if (std::string(c.mode) == "pin") {
            EXPECT_EQ(peer.received(),
                      (std::vector<std::string>{"START", "SETTITLE Доступ к токену",
                                                "SETDESC Сайт https://bank.example:8443 просит доступ к токену. Разрешить?",
                                                "SETOK Запретить", "SETNOTOK Разрешить", "SETCANCEL Не сейчас",
                                                "CONFIRM", "BYE"}));
        }
    }
    setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
    EXPECT_EQ(askOriginPermission("https://bank.example"), OriginAnswer::NoAnswer);
    unsetenv("ORVANTA_PINENTRY");
}

TEST(ScriptedPinentry, PinBytesAreUnescapedAndCutToThirtyOne) {
    struct Case {
        const char* data;
        std::string pin;
    } cases[] = {
        {"a%25b%0Ac", std::string("a%b\nc")},
        {"%E2%82%AC12345", std::string("\xE2\x82\xAC" "12345")},
        {"0123456789012345678901234567890123456789", "0123456789012345678901234567890"},
        {"", ""},
    };
    for (const Case& c : cases) {
        PeerEnvironment peer;
        setenv("PEER_PIN_DATA", c.data, 1);
        const Entered entered = ask();
        EXPECT_EQ(entered.result, 1) << c.data;
        EXPECT_EQ(entered.pin, c.pin) << c.data;
        EXPECT_TRUE(pinBufferWiped());
    }
}

TEST(ScriptedPinentry, CancelAndBrokenPeersGiveNoPin) {
    const char* modes[] = {"cancel", "die", "mute"};
    for (const char* mode : modes) {
        PeerEnvironment peer;
        setenv("PEER_MODE", mode, 1);
        setenv("PEER_PIN_DATA", "123456", 1);
        EXPECT_EQ(ask().result, 0) << mode;
        EXPECT_TRUE(pinBufferWiped()) << mode;
    }
    PeerEnvironment peer;
    setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
    EXPECT_EQ(ask().result, 0);
}

TEST(ScriptedPinentry, EmptyPinConfirmedIsTooShortForTheLogin) {
    PeerEnvironment peer;
    moduleLoadCount = 1;  // the length check comes before any call of the module
    static CK_FUNCTION_LIST noCalls;
    EXPECT_EQ(p11LoginWithDialog(&noCalls, 1, CKU_USER), -6);
    moduleLoadCount = 0;
    EXPECT_EQ(pinDialogDepth, 0);
}

TEST(ScriptedPinentry, ErrorBoxIsTheMessageCommand) {
    PeerEnvironment peer;
    showErrorBox("some pkcs11 error", "C_Login", 5);
    EXPECT_EQ(peer.received(),
              (std::vector<std::string>{"START", "SETTITLE C_Login", "SETDESC some pkcs11 error 0x00000005",
                                        "SETOK OK", "MESSAGE", "BYE"}));
}

TEST(ScriptedPinentry, BoxTextIsEscapedAndKeptWithinALine) {
    {
        PeerEnvironment peer;
        platformMessageBox("50% done\r\nnext", "Error");
        const auto lines = peer.received();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[2], "SETDESC 50%25 done%0D%0Anext");
    }
    {
        PeerEnvironment peer;
        // Two-byte characters: the cut must not split one.
        std::string text;
        for (int i = 0; i < 1500; ++i)
            text += "я";
        platformMessageBox(text, "Error");
        const auto lines = peer.received();
        ASSERT_GE(lines.size(), 5u);
        const std::string& desc = lines[2];
        EXPECT_EQ(desc.rfind("SETDESC яя", 0), 0u);
        EXPECT_LE(desc.size() + 1, 1000u);
        EXPECT_EQ((desc.size() - 8) % 2, 0u);
        EXPECT_EQ(lines[4], "MESSAGE");
    }
}

TEST(ScriptedPinentry, WithoutAPinentryTheBoxGoesToStandardError) {
    {
        PeerEnvironment peer;
        setenv("ORVANTA_PINENTRY", "/nonexistent/pinentry", 1);
        ::testing::internal::CaptureStderr();
        showErrorBox("Error loading pkcs11 library", "Error", 2);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("[Error] Error loading pkcs11 library 0x00000002"), std::string::npos) << err;
    }
    {
        // A pinentry that cannot show the message (no terminal, no display).
        PeerEnvironment peer;
        setenv("PEER_MODE", "refuse", 1);
        ::testing::internal::CaptureStderr();
        showErrorBox("some pkcs11 error", "C_Sign 2", 0x80000001u);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("[C_Sign 2] some pkcs11 error 0x80000001"), std::string::npos) << err;
        const auto lines = peer.received();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "MESSAGE"), lines.end());
    }
    {
        PeerEnvironment peer;  // shown: nothing on standard error
        ::testing::internal::CaptureStderr();
        showErrorBox("some pkcs11 error", "C_Sign 2", 6);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
}

// ---- With the token: the PIN entered goes to C_Login ----

class PinLogin : public TokenFixture {
protected:
    void SetUp() override {
        TokenFixture::SetUp();
        if (HasFatalFailure())
            return;
        openSession();
        standin().reset();
    }
    CK_STATE sessionState() {
        CK_STATE s = 0;
        EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &s), 0);
        return s;
    }
    PeerEnvironment peer_;
};

TEST_F(PinLogin, EnteredPinLogsIn) {
    setenv("PEER_PIN_DATA", SoftHsmToken::kUserPin, 1);
    EXPECT_EQ(p11LoginWithDialog(fl(), session(), CKU_USER), 0);
    const auto login = standin().findCall("C_Login");
    ASSERT_TRUE(login);
    EXPECT_EQ(standin().bytes(*login, "pin"), bytes(SoftHsmToken::kUserPin));
    EXPECT_EQ(sessionState(), static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
    EXPECT_EQ(pinDialogDepth, 0);
    EXPECT_TRUE(pinBufferWiped());
}

TEST_F(PinLogin, WrongPinIsMinusFour) {
    setenv("PEER_PIN_DATA", "000000", 1);
    EXPECT_EQ(p11LoginWithDialog(fl(), session(), CKU_USER), -4);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(PinLogin, CancelIsMinusSevenWithoutLoginOrLogout) {
    setenv("PEER_MODE", "cancel", 1);
    EXPECT_EQ(p11LoginWithDialog(fl(), session(), CKU_USER), -7);
    EXPECT_EQ(standin().callsOf("C_Login"), 0u);
    EXPECT_EQ(standin().callsOf("C_Logout"), 0u);
    EXPECT_EQ(pinDialogDepth, 0);
    EXPECT_TRUE(boxes_.boxes().empty());
}

bool waitForFile(const std::string& path, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST_F(PinLogin, SecondRequestWhileOneIsOpenIsRefused) {
    const std::string hold = peer_.folder() + "/hold";
    setenv("PEER_HOLD", hold.c_str(), 1);
    setenv("PEER_PIN_DATA", SoftHsmToken::kUserPin, 1);
    std::atomic<std::int32_t> nested{1};
    std::atomic<bool> sawRequest{false};
    // While the first request waits for its PIN, a second one comes in (in the browser from
    // the modal loop; here from another thread, which the peer lets in only while it waits).
    std::thread second([&] {
        sawRequest = waitForFile(hold + ".waiting", std::chrono::seconds(10));
        if (sawRequest)
            nested = p11LoginWithDialog(fl(), session(), CKU_USER);
        std::ofstream(hold + ".release").put('\n');
    });
    const std::int32_t first = p11LoginWithDialog(fl(), session(), CKU_USER);
    second.join();
    ASSERT_TRUE(sawRequest);
    EXPECT_EQ(nested, -12);
    EXPECT_EQ(first, 0);
    const auto lines = peer_.received();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "START"), 1);  // one pinentry only
    EXPECT_EQ(standin().callsOf("C_Login"), 1u);
    EXPECT_EQ(pinDialogDepth, 0);
}

// ---- Debian's pinentry-tty on a pseudo-terminal ----

class PinentryTty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access("/usr/bin/pinentry-tty", X_OK), 0) << "pinentry-tty is missing (tools/setup)";
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        const std::string terminal = ptsname(master_);
        // Keep the terminal side open so the master never reads end-of-file in between.
        slave_ = open(terminal.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave_, 0);
        const std::string wrapper = env_.folder() + "/pinentry";
        std::ofstream(wrapper) << "#!/bin/sh\nexec /usr/bin/pinentry-tty --ttyname " << terminal << " \"$@\"\n";
        chmod(wrapper.c_str(), 0700);
        setenv("ORVANTA_PINENTRY", wrapper.c_str(), 1);
    }
    void TearDown() override {
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
    }

    // Plays the user: waits (at most 10 s) until `prompt` is on the screen, then types.
    std::thread user(const std::string& prompt, const std::string& keys) {
        return std::thread([this, prompt, keys] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (screen_.find(prompt) == std::string::npos &&
                   std::chrono::steady_clock::now() < deadline) {
                pollfd p{master_, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) {
                    char chunk[512];
                    const ssize_t n = read(master_, chunk, sizeof chunk);
                    if (n > 0)
                        screen_.append(chunk, static_cast<std::size_t>(n));
                }
            }
            sawPrompt_ = screen_.find(prompt) != std::string::npos;
            // Typed even without the prompt, so that a stuck pinentry is released.
            if (write(master_, keys.data(), keys.size()) < 0)
                ADD_FAILURE() << "cannot type on the terminal";
        });
    }

    PeerEnvironment env_;
    int master_ = -1;
    int slave_ = -1;
    std::string screen_;
    std::atomic<bool> sawPrompt_{false};
};

TEST_F(PinentryTty, UserTypesThePin) {
    std::thread typing = user("Введите пин-код", "tty-secret\n");
    const Entered entered = ask();
    typing.join();
    EXPECT_TRUE(sawPrompt_) << screen_;
    EXPECT_NE(screen_.find("Ввод пин-кода"), std::string::npos) << screen_;
    EXPECT_EQ(entered.result, 1);
    EXPECT_EQ(entered.pin, "tty-secret");
    EXPECT_EQ(screen_.find("tty-secret"), std::string::npos) << "the PIN was echoed";
}

TEST_F(PinentryTty, ErrorBoxWaitsForTheUser) {
    std::thread reading = user("some pkcs11 error 0x000000A4", "\n");
    platformMessageBox("some pkcs11 error 0x000000A4", "C_Login");
    reading.join();
    EXPECT_TRUE(sawPrompt_) << screen_;
}

// A connected stream whose far end (pair[1]) has already said everything in `said` and
// closed its writing side, as a pinentry that answered and ended would leave it.
bool streamSaying(const std::string& said, int (&pair)[2]) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        return false;
    if (write(pair[1], said.data(), said.size()) != static_cast<ssize_t>(said.size()))
        return false;
    shutdown(pair[1], SHUT_WR);
    return true;
}

// The same conversation over a stream that already holds everything the peer will say, so
// the awkward answers a program could give need no program: lines too long for the
// protocol, a last line without its newline, an end before the answer.
TEST(PinentryStream, PeerOutputEndsInAPinOrAFailure) {
    const std::string greeting = "OK Pleased to meet you\n";
    const std::string settings = "OK\nOK\nOK\nOK\n";  // title, prompt, OK and cancel texts
    struct Case {
        const char* what;
        std::string said;
        int result;
        std::string pin;
    } cases[] = {
        {"plain", greeting + settings + "D 1234\nOK\n", 1, "1234"},
        {"status, comment and inquiry lines between", greeting + settings +
             "S PROGRESS\n# note\nINQUIRE QUALITY\nD 12\nD %2534\nOK\n", 1, "12%34"},
        {"last OK without newline", greeting + settings + "D 99\nOK", 0, ""},
        {"escape cut short at the end", greeting + settings + "D 5%4\nOK\n", 1, "5%4"},
        {"no greeting", "", 0, ""},
        {"greeting is not OK", "ERR 1 no\n" + settings + "D 1\nOK\n", 0, ""},
        {"ends before the PIN", greeting + settings, 0, ""},
        {"line longer than the protocol allows", greeting + settings + "D " + std::string(1500, '7') + "\nOK\n", 0, ""},
        {"stream of bytes without newline", greeting + settings + std::string(5000, 'D'), 0, ""},
        {"cancel", greeting + settings + "ERR 83886179 Operation cancelled\n", 0, ""},
    };
    for (const Case& c : cases) {
        int pair[2];
        ASSERT_TRUE(streamSaying(c.said, pair)) << c.what;
        PinentryConversation pinentry;
        const PinEntryHandler previous =
            setPinEntryHandler([&] { return pinentry.attach(pair[0]) && askPinOver(pinentry); });
        const Entered entered = ask();
        setPinEntryHandler(previous);
        close(pair[1]);
        EXPECT_EQ(entered.result, c.result) << c.what;
        EXPECT_EQ(entered.pin, c.pin) << c.what;
        EXPECT_TRUE(pinBufferWiped()) << c.what;
    }
}

// Enter presses OK, so OK to CONFIRM denies; only the "not OK" button (not confirmed, in the
// low 16 bits) allows an origin; cancel is a dismissed prompt; anything else is no answer,
// and so is a pinentry that will not show the allow button.
TEST(PinentryStream, OriginAnswerComesOnlyFromAPlainOkOrNo) {
    const std::string texts = "OK Pleased to meet you\nOK\nOK\nOK\n";  // greeting, title, question, deny
    const std::string opening = texts + "OK\nOK\n";                         // allow, later
    struct Case {
        const char* what;
        std::string said;
        OriginAnswer answer;
    } cases[] = {
        {"OK, the default button", opening + "OK\n", OriginAnswer::Deny},
        {"OK with a comment", opening + "S x\nOK thanks\n", OriginAnswer::Deny},
        {"not confirmed, the allow button", opening + "ERR 83886194 Not confirmed\n", OriginAnswer::Allow},
        {"cancelled", opening + "ERR 83886179 Operation cancelled\n", OriginAnswer::Dismissed},
        {"no device", opening + "ERR 83886360 No such device\n", OriginAnswer::NoAnswer},
        {"no allow button", texts + "ERR 83886355 Unknown IPC command\nOK\nERR 83886194 Not confirmed\n",
         OriginAnswer::NoAnswer},
        {"a word that starts with OK", opening + "OKAY\n", OriginAnswer::NoAnswer},
        {"OK without its newline", opening + "OK", OriginAnswer::NoAnswer},
        {"OK after an overlong line", opening + std::string(1100, 'S') + "\nOK\n", OriginAnswer::NoAnswer},
        {"nothing", "", OriginAnswer::NoAnswer},
    };
    for (const Case& c : cases) {
        int pair[2];
        ASSERT_TRUE(streamSaying(c.said, pair)) << c.what;
        PinentryConversation pinentry;
        const OriginAnswer answer = pinentry.attach(pair[0]) ? askOriginOver(pinentry, "https://example.org")
                                                             : OriginAnswer::NoAnswer;
        close(pair[1]);
        EXPECT_EQ(answer, c.answer) << c.what;
    }
}

} // namespace
