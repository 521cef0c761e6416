#pragma once
// Which pages may reach the token. Every request names the page's origin (the browser tells
// the extension; the page cannot choose it). An origin that is not a secure one is refused
// outright; a secure origin the person has not been asked about yet is put to the person
// once, and the answer is remembered in the allowed-origins file.
//
// One prompt at a time: the person is asked under the allowed-origins file's lock, so a
// page with many connections (each its own host process) gets one prompt, and the others
// read the answer it left. A prompt the person dismissed, or that could not be shown, holds
// its origin back for kHoldBack: its calls are refused at once, without a prompt, in every
// process, so a page cannot put the question again and again until a key press lands.

#include "AllowedOrigins.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace FB { namespace Consent {

enum class PromptAnswer { Allow, Deny, Dismissed, NoAnswer };

// https with a host; http only on this computer: "localhost", "[::1]" or an IPv4 literal in
// 127.0.0.0/8 written as four decimal numbers. Lower-case scheme and host, an optional port,
// no path: the form browsers serialise origins in. Anything else is refused (file:// pages,
// which all share one origin, and opaque origins among them), so no odd text ever reaches
// the prompt.
bool isSecureOrigin(const std::string& origin);

class OriginGate {
public:
    // Asks the person whether the origin may use the token: Dismissed when the person closed
    // the prompt without saying, NoAnswer when no prompt could be shown.
    using Prompt = std::function<PromptAnswer(const std::string& origin)>;
    using Clock = std::function<AllowedOrigins::TimePoint()>;

    static constexpr std::chrono::seconds kHoldBack{60};

    // `now` is the system clock unless given.
    OriginGate(AllowedOrigins& list, Prompt prompt, Clock now = Clock());

    // Empty when the origin may go on; otherwise the message the page gets. Safe to call from
    // several threads.
    std::string check(const std::string& origin);

    // True when the origin may go on without asking anybody: a remembered or administered
    // "allow". Never prompts.
    bool allowedWithoutAsking(const std::string& origin);

    // Where the origin stands today, without asking anybody and without waiting for a prompt
    // another process has open. Refused: `refusal` gets the message its calls would get (an
    // insecure origin, a remembered or administered "deny", an unreadable file). NotAsked: its
    // first call would put the question to the person.
    enum class Standing { Allowed, NotAsked, Refused };
    Standing standing(const std::string& origin, std::string& refusal);

    // The administrator's list for every user of the computer: its answers come before the
    // person's and are never asked about. A missing or unreadable file holds no answers.
    void setMachineList(AllowedOrigins* machine) { m_machine = machine; }

private:
    std::string answered(const std::string& origin, bool& known);

    AllowedOrigins& m_list;
    AllowedOrigins* m_machine = nullptr;
    Prompt m_prompt;
    Clock m_now;
    // One prompt at a time in this process even when the lock file cannot be made, and the
    // held-back origins then kept here.
    std::mutex m_prompting;
    std::map<std::string, AllowedOrigins::TimePoint> m_heldBack;
};

}} // namespace FB::Consent
