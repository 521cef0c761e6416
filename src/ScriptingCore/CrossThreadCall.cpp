#include "CrossThreadCall.h"

#include "BrowserHost.h"
#include "JSExceptions.h"
#include "logging.h"

#include <chrono>
#include <exception>

namespace FB {

namespace {

// How often a waiter looks at the host's shut-down flag; the call's own completion wakes
// it at once.
constexpr std::chrono::milliseconds kShutdownPoll(10);

} // namespace

CrossThreadCall::CrossThreadCall(std::shared_ptr<FunctorCall> f)
    : funct(std::move(f)), m_returned(false), m_abandoned(false) {}

CrossThreadCall::~CrossThreadCall() {
    // A failure that no waiter collected (it gave up on shutdown).
    if (m_result.is_of_type<script_error*>())
        delete m_result.cast<script_error*>();
}

bool CrossThreadCall::onMainThread(const BrowserHost& host) {
    return host.isMainThread();
}

void CrossThreadCall::scheduleAndWait(BrowserHost& host, const std::shared_ptr<CrossThreadCall>& call) {
    // Scheduled before the call's mutex is taken: host and manager locks stay outside it,
    // so a shutdown that runs this call while holding them cannot deadlock with us.
    auto ticket = std::make_unique<std::shared_ptr<CrossThreadCall>>(call);
    if (!host.ScheduleAsyncCall(&CrossThreadCall::syncCallbackFunctor, ticket.get()))
        throw script_error("Could not marshal to main thread");
    ticket.release();  // the trampoline owns it now

    std::unique_lock<std::mutex> lock(call->m_mutex);
    while (!call->m_returned) {
        if (host.isShutDown()) {
            // Decided under the call's mutex, so the call has not started and will see
            // the mark; the trampoline still holds the call and frees it.
            call->m_abandoned = true;
            throw script_error("Shutting down");
        }
        call->m_cond.wait_for(lock, kShutdownPoll);
    }
    if (call->m_result.is_of_type<script_error*>()) {
        std::unique_ptr<script_error> failure(call->m_result.cast<script_error*>());
        call->m_result.reset();
        throw script_error(failure->what());
    }
}

void CrossThreadCall::scheduleDetached(BrowserHost& host, std::unique_ptr<CrossThreadCall> call) {
    if (host.ScheduleAsyncCall(&CrossThreadCall::asyncCallbackFunctor, call.get()))
        call.release();  // the trampoline frees it
}

void CrossThreadCall::syncCallbackFunctor(void* userData) {
    // The waiter may already have let go of the call (shutdown); then this is the owner.
    std::unique_ptr<std::shared_ptr<CrossThreadCall>> ticket(static_cast<std::shared_ptr<CrossThreadCall>*>(userData));
    CrossThreadCall& call = **ticket;
    // The call may use the waiter's own variables. It runs under the call's mutex, so the
    // waiter cannot see a shutdown and leave while it runs; a waiter that left before it
    // started has marked it, and it is dropped.
    std::lock_guard<std::mutex> lock(call.m_mutex);
    if (call.m_abandoned)
        return;
    try {
        call.funct->call();
    } catch (const script_error& e) {
        call.m_result = new script_error(e.what());
    } catch (const std::exception& e) {
        // Nothing may escape into the browser's callback; the waiter gets the message.
        call.m_result = new script_error(e.what());
    }
    call.m_returned = true;
    call.m_cond.notify_one();
}

void CrossThreadCall::asyncCallbackFunctor(void* userData) {
    std::unique_ptr<CrossThreadCall> call(static_cast<CrossThreadCall*>(userData));
    try {
        call->funct->call();
    } catch (const script_error&) {
    } catch (const bad_variant_cast&) {
    } catch (const std::exception& e) {
        // Nothing may escape into the browser's callback.
        FBLOG_WARN("CrossThreadCall", "Asynchronous call failed: " << e.what());
    }
}

} // namespace FB
