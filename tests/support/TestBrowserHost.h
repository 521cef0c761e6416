#pragma once
// A browser host for tests whose main thread is a real thread running a queue of calls,
// as a browser's UI thread runs the calls handed to NPN_PluginThreadAsyncCall. Every wait
// here is bounded, so a hang fails the test instead of blocking the run.

#include "BrowserHost.h"
#include "JSExceptions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace orv { namespace test {

constexpr std::chrono::seconds kTestWait(10);

class MainThreadQueue {
public:
    MainThreadQueue();
    // Runs what is still queued, then stops the thread.
    ~MainThreadQueue();
    MainThreadQueue(const MainThreadQueue&) = delete;
    MainThreadQueue& operator=(const MainThreadQueue&) = delete;

    void post(std::function<void()> task);
    std::thread::id id() const { return m_id; }
    // Every task posted so far (and those they posted) has run; false on timeout.
    bool waitIdle(std::chrono::milliseconds timeout = kTestWait);

    // Runs func on the queue's thread and returns its result here; std::runtime_error if
    // it does not finish in time.
    template <typename F>
    auto run(F func) -> decltype(func()) {
        using R = decltype(func());
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(func));
        std::future<R> result = task->get_future();
        post([task] { (*task)(); });
        if (result.wait_for(kTestWait) != std::future_status::ready)
            throw std::runtime_error("main-thread task did not finish");
        return result.get();
    }

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
    std::thread::id m_id;
};

class TestBrowserHost : public FB::BrowserHost {
public:
    struct HeldCall {
        void (*func)(void*);
        void* userData;
    };

    // Constructed on the queue's thread, which so becomes the host's main thread.
    static std::shared_ptr<TestBrowserHost> create(MainThreadQueue& queue);
    explicit TestBrowserHost(MainThreadQueue& queue) : m_queue(queue) {}

    // The browser refuses every call handed to it.
    void setRefuseScheduling(bool refuse) { m_refuse = refuse; }
    // The browser keeps the calls instead of running them; heldCalls() gives them back.
    void setHoldCalls(bool hold) { m_hold = hold; }
    std::vector<HeldCall> heldCalls() const;
    int scheduledCount() const { return m_scheduled; }
    int deferredReleaseCount() const { return m_deferredReleases; }
    void setDOMWindow(const FB::DOM::WindowPtr& window) { m_window = window; }
    void setDOMWindowFailure(bool fail) { m_windowFails = fail; }

    void* getContextID() const override { return const_cast<TestBrowserHost*>(this); }
    FB::DOM::DocumentPtr getDOMDocument() override { return nullptr; }
    FB::DOM::WindowPtr getDOMWindow() override;
    FB::DOM::ElementPtr getDOMElement() override { return nullptr; }
    using FB::BrowserHost::evaluateJavaScript;
    void evaluateJavaScript(const std::string&) override {}
    void DoDeferredRelease() const override { ++m_deferredReleases; }
    bool _scheduleAsyncCall(void (*func)(void*), void* userData) const override;
    FB::BrowserStreamPtr _createStream(const std::string&, const FB::PluginEventSinkPtr&, bool, bool,
                                       size_t) const override {
        return nullptr;
    }

private:
    MainThreadQueue& m_queue;
    std::atomic<bool> m_refuse{false};
    std::atomic<bool> m_hold{false};
    std::atomic<bool> m_windowFails{false};
    mutable std::atomic<int> m_scheduled{0};
    mutable std::atomic<int> m_deferredReleases{0};
    mutable std::mutex m_heldMutex;
    mutable std::vector<HeldCall> m_held;
    FB::DOM::WindowPtr m_window;
};

}} // namespace orv::test
