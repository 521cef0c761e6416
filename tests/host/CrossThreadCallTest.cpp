// Calls handed from worker threads to a host whose main thread is a real thread running a
// queue: blocking calls, fire-and-forget calls, failures crossing threads, records that
// run once, and shutdown racing with waiting workers.

#include "BoundedThread.h"
#include "FakeJSObject.h"
#include "LogCapture.h"
#include "TestBrowserHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using orv::test::BoundedThread;
using orv::test::LogCapture;
using orv::test::MainThreadQueue;
using orv::test::TestBrowserHost;

namespace {

class CrossThreadCalls : public ::testing::Test {
protected:
    void SetUp() override { host = TestBrowserHost::create(queue); }
    void TearDown() override {
        host->shutdown();
        ASSERT_TRUE(queue.waitIdle());
    }

    // Runs body on a worker thread and waits (bounded) for it to end.
    void onWorker(std::function<void()> body) {
        BoundedThread worker(std::move(body));
        ASSERT_TRUE(worker.finishedWithin(std::chrono::seconds(10)));
    }

    // The message of the script_error that CallOnMainThread raised on a worker.
    template <typename F>
    std::string workerCallError(F func) {
        std::string message = "<no script_error>";
        onWorker([&] {
            try {
                host->CallOnMainThread(func);
            } catch (const FB::script_error& e) {
                message = e.what();
            }
        });
        return message;
    }

    // Waits (bounded) until the browser holds `count` calls.
    void waitForHeldCalls(size_t count) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (host->heldCalls().size() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(host->heldCalls().size(), count);
    }

    MainThreadQueue queue;
    std::shared_ptr<TestBrowserHost> host;
};

void countCall(void* counter) {
    ++*static_cast<std::atomic<int>*>(counter);
}

// A call during which the browser hands the same record back (a modal loop inside the
// call) and which then schedules another call.
struct Reentry {
    TestBrowserHost* host;
    std::atomic<int> runs{0};
    std::atomic<int> later{0};
};

void reenterThenSchedule(void* data) {
    auto* reentry = static_cast<Reentry*>(data);
    ++reentry->runs;
    auto held = reentry->host->heldCalls();
    held[0].func(held[0].userData);
    reentry->host->ScheduleAsyncCall(&countCall, &reentry->later);
}

// A pending call that keeps the main thread busy until it is released.
struct BusyCall {
    std::shared_future<void> released;
    std::atomic<int> runs{0};
};

void busyUntilReleased(void* data) {
    auto* busy = static_cast<BusyCall*>(data);
    ++busy->runs;
    busy->released.wait_for(std::chrono::seconds(10));
}

void shutDownHost(void* host) {
    static_cast<TestBrowserHost*>(host)->shutdown();
}

// Shuts its host down when it goes, as the plug-in core does in its destructor.
struct ShutsDownWhenDestroyed {
    explicit ShutsDownWhenDestroyed(std::shared_ptr<TestBrowserHost> h) : host(std::move(h)) {}
    ~ShutsDownWhenDestroyed() { host->shutdown(); }
    std::shared_ptr<TestBrowserHost> host;
};

} // namespace

TEST_F(CrossThreadCalls, OnTheMainThreadTheCallRunsInline) {
    host->setHoldCalls(true);  // a posted call would never run
    std::thread::id ranOn = queue.run([this] {
        return host->CallOnMainThread([] { return std::this_thread::get_id(); });
    });
    EXPECT_EQ(ranOn, queue.id());
    EXPECT_EQ(host->scheduledCount(), 0);
    EXPECT_TRUE(queue.run([this] { return host->isMainThread(); }));
    EXPECT_FALSE(host->isMainThread());
}

TEST_F(CrossThreadCalls, WorkerGetsTheResultComputedOnTheMainThread) {
    std::thread::id ranOn;
    std::string result;
    FB::variant value;
    bool voidCallRan = false;
    onWorker([&] {
        result = host->CallOnMainThread([&] {
            ranOn = std::this_thread::get_id();
            return std::string("signed");
        });
        value = host->CallOnMainThread([] { return FB::variant(FB::VariantList{FB::variant(1), FB::variant("x")}); });
        host->CallOnMainThread([&] { voidCallRan = true; });
    });
    EXPECT_EQ(result, "signed");
    EXPECT_EQ(ranOn, queue.id());
    EXPECT_EQ(value.cast<FB::VariantList>()[1].cast<std::string>(), "x");
    EXPECT_TRUE(voidCallRan);
    EXPECT_EQ(host->scheduledCount(), 3);
}

TEST_F(CrossThreadCalls, FailuresCrossThreadsWithTheirMessage) {
    EXPECT_EQ(workerCallError([]() -> int { throw FB::script_error("Token is busy"); }), "Token is busy");
    EXPECT_EQ(workerCallError([] { throw FB::invalid_member("olvNothing"); }),
              "The specified member does not exist: olvNothing");
    // Nothing may escape into the browser's callback: other standard errors travel too.
    EXPECT_EQ(workerCallError([] { throw std::runtime_error("device removed"); }), "device removed");
    // The main thread carries on.
    EXPECT_EQ(queue.run([] { return 7; }), 7);
}

TEST_F(CrossThreadCalls, ScriptMethodErrorReachesTheWorker) {
    auto object = orv::test::FakeJSObject::create(host);
    object->setMethod("fail", [](const FB::VariantList&) -> FB::variant { throw FB::script_error("Method invoke failed"); });
    EXPECT_EQ(workerCallError([object] { return object->Invoke("fail", {}); }), "Method invoke failed");
    ASSERT_EQ(object->callsTo("fail").size(), 1u);
    EXPECT_EQ(object->callsTo("fail")[0].thread, queue.id());
}

TEST_F(CrossThreadCalls, RefusedHandOverFailsAndNeverRuns) {
    host->setRefuseScheduling(true);
    std::atomic<int> runs{0};
    EXPECT_EQ(workerCallError([&] { ++runs; }), "Could not marshal to main thread");
    host->ScheduleOnMainThread(host, [&] { ++runs; });
    host->shutdown();  // would run anything left pending
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(runs, 0);
}

TEST_F(CrossThreadCalls, FireAndForgetKeepsItsTargetAliveUntilItRuns) {
    LogCapture log;
    host->setHoldCalls(true);
    auto target = orv::test::FakeJSObject::create(host);
    std::weak_ptr<orv::test::FakeJSObject> watch = target;
    std::thread::id ranOn;
    onWorker([&] {
        host->ScheduleOnMainThread(target, [&ranOn] { ranOn = std::this_thread::get_id(); });
    });
    target.reset();
    EXPECT_FALSE(watch.expired());
    auto held = host->heldCalls();
    ASSERT_EQ(held.size(), 1u);
    queue.run([&] { held[0].func(held[0].userData); });
    EXPECT_EQ(ranOn, queue.id());
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(log.count(FB::Log::Level::Trace, "FunctorCall", "Destroying FunctorCall object (void)"), 1);
}

TEST_F(CrossThreadCalls, FireAndForgetIgnoresScriptAndConversionErrors) {
    std::atomic<int> runs{0};
    onWorker([&] {
        host->ScheduleOnMainThread(host, [&] {
            ++runs;
            throw FB::script_error("ignored");
        });
        host->ScheduleOnMainThread(host, [&] {
            ++runs;
            FB::variant(5).cast<std::string>();
        });
        // Any other standard error must not escape into the browser's callback either.
        host->ScheduleOnMainThread(host, [&] {
            ++runs;
            throw std::runtime_error("device removed");
        });
        host->ScheduleOnMainThread(host, [&] { ++runs; });
    });
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(runs, 4);
}

TEST_F(CrossThreadCalls, RefusedFireAndForgetReleasesItsTargetAtOnce) {
    host->setRefuseScheduling(true);
    auto target = orv::test::FakeJSObject::create(host);
    std::weak_ptr<orv::test::FakeJSObject> watch = target;
    bool ran = false;
    host->ScheduleOnMainThread(target, [&ran] { ran = true; });
    target.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(ran);
}

TEST_F(CrossThreadCalls, ARecordRunsOnceHoweverOftenItIsHandedBack) {
    host->setHoldCalls(true);
    std::atomic<int> first{0}, second{0};
    ASSERT_TRUE(host->ScheduleAsyncCall(&countCall, &first));
    ASSERT_TRUE(host->ScheduleAsyncCall(&countCall, &second));
    auto held = host->heldCalls();
    ASSERT_EQ(held.size(), 2u);
    queue.run([&] {
        held[1].func(held[1].userData);
        held[1].func(held[1].userData);
        held[0].func(held[0].userData);
        held[0].func(held[0].userData);
    });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    host->shutdown();
    queue.run([&] { held[0].func(held[0].userData); });
    EXPECT_EQ(first, 1);
}

TEST_F(CrossThreadCalls, ARecordHandedBackDuringItsOwnRunLeavesTheNextRecordAlone) {
    // The nested run frees the record; the next record may reuse its memory and must
    // still run once when the browser gets to it.
    host->setHoldCalls(true);
    Reentry reentry;
    reentry.host = host.get();
    ASSERT_TRUE(host->ScheduleAsyncCall(&reenterThenSchedule, &reentry));
    auto first = host->heldCalls();
    queue.run([&] { first[0].func(first[0].userData); });
    EXPECT_EQ(reentry.runs, 1);
    auto held = host->heldCalls();
    ASSERT_EQ(held.size(), 2u);
    queue.run([&] { held[1].func(held[1].userData); });
    EXPECT_EQ(reentry.later, 1);
}

TEST_F(CrossThreadCalls, AStaleHandBackNeverRunsALaterCall) {
    // The browser hands back a call that has already run and been freed; a call scheduled
    // since may occupy the same memory and must still wait for its own turn.
    host->setHoldCalls(true);
    std::atomic<int> first{0}, second{0};
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(host->ScheduleAsyncCall(&countCall, &first));
        const TestBrowserHost::HeldCall stale = host->heldCalls().back();
        const TestBrowserHost::HeldCall fresh = queue.run([&] {
            stale.func(stale.userData);  // runs, and the record is freed
            host->ScheduleAsyncCall(&countCall, &second);
            TestBrowserHost::HeldCall latest = host->heldCalls().back();
            stale.func(stale.userData);  // the late duplicate
            return latest;
        });
        EXPECT_EQ(first, round + 1);
        EXPECT_EQ(second, round) << "the stale hand-back ran the newer call";
        queue.run([&] { fresh.func(fresh.userData); });
        EXPECT_EQ(second, round + 1);
    }
}

TEST_F(CrossThreadCalls, ShutdownRunsPendingCallsOnceThenRefusesNewOnes) {
    host->setHoldCalls(true);
    std::atomic<int> runs{0};
    ASSERT_TRUE(host->ScheduleAsyncCall(&countCall, &runs));
    ASSERT_TRUE(host->ScheduleAsyncCall(&countCall, &runs));
    host->shutdown();
    EXPECT_TRUE(host->isShutDown());
    EXPECT_EQ(runs, 2);
    // The browser delivers them late: nothing runs again.
    auto held = host->heldCalls();
    queue.run([&] {
        for (const auto& call : held)
            call.func(call.userData);
    });
    EXPECT_EQ(runs, 2);

    const int scheduled = host->scheduledCount();
    EXPECT_FALSE(host->ScheduleAsyncCall(&countCall, &runs));
    EXPECT_EQ(workerCallError([] {}), "Could not marshal to main thread");
    bool ran = false;
    host->ScheduleOnMainThread(host, [&ran] { ran = true; });
    EXPECT_EQ(host->scheduledCount(), scheduled);
    host->shutdown();  // again: no further effect
    EXPECT_FALSE(ran);
    EXPECT_EQ(runs, 2);
}

TEST_F(CrossThreadCalls, ShutdownWhileTheMainThreadRunsTheCallWaitsForTheCallToEnd) {
    // The call may use the worker's own variables (it captures them by reference), so the
    // worker must not leave while the call is still running on the main thread.
    std::promise<void> started;
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::atomic<int> runs{0};
    std::string message;
    {
        BoundedThread worker([&] {
            try {
                host->CallOnMainThread([&] {
                    ++runs;
                    started.set_value();
                    open.wait_for(std::chrono::seconds(10));  // the browser is busy in the call
                    return 1;
                });
                message = "returned";
            } catch (const FB::script_error& e) {
                message = e.what();
            }
        });
        ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
        host->shutdown();
        EXPECT_FALSE(worker.finishedWithin(std::chrono::milliseconds(300)))
            << "the worker left while its call was running";
        gate.set_value();
        EXPECT_TRUE(worker.finishedWithin(std::chrono::seconds(10)));
    }
    EXPECT_TRUE(message == "returned" || message == "Shutting down") << message;
    ASSERT_TRUE(queue.waitIdle());
    EXPECT_EQ(runs, 1);
}

TEST_F(CrossThreadCalls, ShutdownWhileTheCallIsPendingRunsItOnceAndReleasesTheWorker) {
    host->setHoldCalls(true);  // the browser never gets round to it
    std::atomic<int> runs{0};
    std::string outcome;
    {
        BoundedThread worker([&] {
            try {
                outcome = std::to_string(host->CallOnMainThread([&] { return ++runs; }));
            } catch (const FB::script_error& e) {
                outcome = e.what();
            }
        });
        waitForHeldCalls(1);
        host->shutdown();
        EXPECT_TRUE(worker.finishedWithin(std::chrono::seconds(10)));
    }
    // Either shutdown ran the call before the worker saw the flag, or the worker gave up
    // first and the call never runs.
    if (outcome == "1") {
        EXPECT_EQ(runs, 1);
    } else {
        EXPECT_EQ(outcome, "Shutting down");
        EXPECT_EQ(runs, 0);
    }
    const int ranAtShutdown = runs;
    auto held = host->heldCalls();
    queue.run([&] { held[0].func(held[0].userData); });
    EXPECT_EQ(runs, ranAtShutdown);
}

TEST_F(CrossThreadCalls, ACallGivenUpAtShutdownNeverRuns) {
    // A worker waits for a call the browser has not run. Shutdown first runs an earlier
    // pending call, which keeps it busy until the waiter has seen the shut-down flag and
    // left, freeing what its call writes to. That call must then never run.
    host->setHoldCalls(true);
    std::promise<void> waiterLeft;
    BusyCall earlier{waiterLeft.get_future().share()};
    ASSERT_TRUE(host->ScheduleAsyncCall(&busyUntilReleased, &earlier));
    std::atomic<int> runs{0};
    std::string outcome;
    {
        BoundedThread waiter([&] {
            auto result = std::make_unique<int>(0);  // the waiter's own memory
            try {
                host->CallOnMainThread([&runs, out = result.get()] {
                    ++runs;
                    *out = 2;
                    return 2;
                });
                outcome = "returned";
            } catch (const FB::script_error& e) {
                outcome = e.what();
            }
            result.reset();
            waiterLeft.set_value();
        });
        waitForHeldCalls(2);
        host->shutdown();
        EXPECT_TRUE(waiter.finishedWithin(std::chrono::seconds(10)));
    }
    EXPECT_EQ(outcome, "Shutting down");
    EXPECT_EQ(earlier.runs, 1);
    EXPECT_EQ(runs, 0);
    // Nor when the browser delivers it late.
    const auto held = host->heldCalls();
    queue.run([&] {
        for (const auto& call : held)
            call.func(call.userData);
    });
    EXPECT_EQ(earlier.runs, 1);
    EXPECT_EQ(runs, 0);
}

TEST_F(CrossThreadCalls, ShutdownReachedAgainFromInsideShutdownReturnsAtOnce) {
    // A pending call may hold the last handle to an object whose destructor shuts the host
    // down; and a pending call may shut it down itself. Both happen inside shutdown.
    host->setHoldCalls(true);
    std::atomic<int> runs{0};
    {
        auto owner = std::make_shared<ShutsDownWhenDestroyed>(host);
        host->ScheduleOnMainThread(owner, [&runs] { ++runs; });
    }
    ASSERT_TRUE(host->ScheduleAsyncCall(&shutDownHost, host.get()));
    ASSERT_TRUE(host->ScheduleAsyncCall(&countCall, &runs));
    BoundedThread shutter([&] { host->shutdown(); });
    ASSERT_TRUE(shutter.finishedWithin(std::chrono::seconds(5))) << "shutdown deadlocked on itself";
    EXPECT_TRUE(host->isShutDown());
    EXPECT_EQ(runs, 2);  // the calls after the nested shutdowns still ran, once
}

TEST_F(CrossThreadCalls, ManyWorkersAtOnce) {
    constexpr int kWorkers = 4;
    constexpr int kCalls = 50;
    std::atomic<int> offMain{0};
    int total = 0;  // touched only on the main thread
    std::vector<int> wrong(kWorkers, 0);
    {
        std::vector<std::unique_ptr<BoundedThread>> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.push_back(std::make_unique<BoundedThread>([&, w] {
                for (int i = 0; i < kCalls; ++i) {
                    int got = host->CallOnMainThread([&, i] {
                        if (std::this_thread::get_id() != queue.id())
                            ++offMain;
                        ++total;
                        return i * 2 + w;
                    });
                    if (got != i * 2 + w)
                        ++wrong[w];
                }
            }));
        }
    }
    EXPECT_EQ(offMain, 0);
    EXPECT_EQ(queue.run([&] { return total; }), kWorkers * kCalls);
    for (int w = 0; w < kWorkers; ++w)
        EXPECT_EQ(wrong[w], 0) << w;
}

TEST_F(CrossThreadCalls, ShutdownAmidBusyWorkersLeavesNoneBehind) {
    constexpr int kWorkers = 4;
    std::atomic<int> completed{0};
    std::atomic<int> refused{0};
    {
        std::vector<std::unique_ptr<BoundedThread>> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.push_back(std::make_unique<BoundedThread>([&] {
                for (;;) {
                    try {
                        host->CallOnMainThread([] { return 1; });
                        host->ScheduleOnMainThread(host, [] {});
                        ++completed;
                    } catch (const FB::script_error& e) {
                        const std::string message = e.what();
                        if (message == "Shutting down" || message == "Could not marshal to main thread")
                            ++refused;
                        return;
                    }
                }
            }));
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (completed < 100 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        host->shutdown();
    }
    EXPECT_GE(completed, 100);
    EXPECT_EQ(refused, kWorkers);
}
