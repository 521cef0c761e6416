#pragma once
// Hand-over of a call to the browser's main thread: blocking (syncCall, the result or the
// script error comes back to the caller) or fire-and-forget (asyncCall). Reach these
// through BrowserHost::CallOnMainThread and BrowserHost::ScheduleOnMainThread, which hold
// the host's cross-thread lock around them.

#include "FunctorCall.h"
#include "variant.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <type_traits>

namespace FB {

class BrowserHost;

class CrossThreadCall {
public:
    ~CrossThreadCall();
    CrossThreadCall(const CrossThreadCall&) = delete;
    CrossThreadCall& operator=(const CrossThreadCall&) = delete;

    template <typename Functor>
    static std::invoke_result_t<Functor&> syncCall(BrowserHost& host, Functor func);

    template <typename C, typename Functor>
    static void asyncCall(BrowserHost& host, const std::shared_ptr<C>& obj, Functor func);

private:
    explicit CrossThreadCall(std::shared_ptr<FunctorCall> funct);

    // Main-thread trampolines. The blocking one receives a heap handle to the call (the
    // waiter may give up on shutdown and leave it to this side); the other owns the call.
    static void syncCallbackFunctor(void* userData);
    static void asyncCallbackFunctor(void* userData);

    // Waits until the main thread has run the call; "Shutting down" when the host goes
    // first, and then the call never runs. Raises the call's script error in this thread.
    static void scheduleAndWait(BrowserHost& host, const std::shared_ptr<CrossThreadCall>& call);
    // Queues a fire-and-forget call; dropped (and freed) when the host refuses it.
    static void scheduleDetached(BrowserHost& host, std::unique_ptr<CrossThreadCall> call);
    static bool onMainThread(const BrowserHost& host);

    std::shared_ptr<FunctorCall> funct;
    variant m_result;  // a heap script_error* when the call failed
    bool m_returned;
    // The waiter gave up (shutdown) before the call ran: it must never run, since it may
    // refer to the waiter's own variables.
    bool m_abandoned;
    std::condition_variable m_cond;
    std::mutex m_mutex;
};

template <typename Functor>
std::invoke_result_t<Functor&> CrossThreadCall::syncCall(BrowserHost& host, Functor func) {
    using RT = std::invoke_result_t<Functor&>;
    if (onMainThread(host))
        return func();  // never wait for ourselves
    auto funct = std::make_shared<FunctorCallImpl<Functor, RT>>(std::move(func));
    std::shared_ptr<CrossThreadCall> call(new CrossThreadCall(funct));
    scheduleAndWait(host, call);
    return funct->takeResult();
}

template <typename C, typename Functor>
void CrossThreadCall::asyncCall(BrowserHost& host, const std::shared_ptr<C>& obj, Functor func) {
    auto funct = std::make_shared<FunctorCallImpl<Functor>>(std::shared_ptr<void>(obj), std::move(func));
    scheduleDetached(host, std::unique_ptr<CrossThreadCall>(new CrossThreadCall(funct)));
}

} // namespace FB
