#pragma once
// The pending calls of one browser host: each call handed to the browser for its main
// thread gets a record here, so that shutdown can run what the browser has not run yet
// and a record runs at most once whichever comes first.

#include <list>
#include <memory>
#include <mutex>
#include <set>

namespace FB {

class AsyncCallManager;
using AsyncCallManagerPtr = std::shared_ptr<AsyncCallManager>;

struct AsyncCallData {
    AsyncCallData(void (*f)(void*), void* ud, int id, const AsyncCallManagerPtr& mgr)
        : func(f), userData(ud), uniqId(id), called(false), manager(mgr) {}

    void (*func)(void*);  // cleared when the record runs
    void* userData;
    int uniqId;
    bool called;
    std::weak_ptr<AsyncCallManager> manager;
};

class AsyncCallManager : public std::enable_shared_from_this<AsyncCallManager> {
public:
    AsyncCallManager();
    ~AsyncCallManager();
    AsyncCallManager(const AsyncCallManager&) = delete;
    AsyncCallManager& operator=(const AsyncCallManager&) = delete;

    // A new pending record; null once the manager has shut down.
    AsyncCallData* makeCallback(void (*func)(void*), void* userData);
    // Runs the record's function unless it already ran, then frees the record.
    void call(AsyncCallData* data);
    // Takes back a pending record that the browser refused to schedule; it never runs and
    // is freed. False when the record was no longer pending (shutdown ran it already).
    bool cancel(AsyncCallData* data);
    // Runs every pending record now, on this thread, and refuses new ones.
    void shutdown();

    // What the browser runs on its main thread. A record that has been freed (it ran, or
    // its manager is gone) is recognised and ignored.
    static void asyncCallbackFunction(void* userData);

private:
    int m_lastId;
    std::recursive_mutex m_mutex;
    std::list<AsyncCallData*> m_pending;
    // Records run by shutdown; kept until the manager goes, since the browser may still
    // hand them to asyncCallbackFunction.
    std::set<AsyncCallData*> m_cancelled;
    bool m_shutDown;
};

} // namespace FB
