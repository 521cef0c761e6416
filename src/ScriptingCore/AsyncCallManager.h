#pragma once
// The pending calls of one browser host: each call handed to the browser for its main
// thread gets a record here, so that shutdown can run what the browser has not run yet
// and a record runs at most once whichever comes first.
//
// The browser is never given a record's address, only a handle: a number counted up
// process-wide and never given to two live records. A browser that hands back a call
// late, after its record was freed, names no record at all, even when a newer record
// occupies the same memory.

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <set>

namespace FB {

class AsyncCallManager;
using AsyncCallManagerPtr = std::shared_ptr<AsyncCallManager>;

struct AsyncCallData {
    AsyncCallData(void (*f)(void*), void* ud, int id, const AsyncCallManagerPtr& mgr)
        : func(f), userData(ud), uniqId(id), called(false), manager(mgr), handle(0) {}

    void (*func)(void*);  // cleared when the record runs
    void* userData;
    int uniqId;
    bool called;
    std::weak_ptr<AsyncCallManager> manager;
    std::uintptr_t handle;  // what the browser holds instead of the address
};

class AsyncCallManager : public std::enable_shared_from_this<AsyncCallManager> {
public:
    AsyncCallManager();
    ~AsyncCallManager();
    AsyncCallManager(const AsyncCallManager&) = delete;
    AsyncCallManager& operator=(const AsyncCallManager&) = delete;

    // A new pending record; returns the handle to give the browser for
    // asyncCallbackFunction. Null once the manager has shut down.
    void* makeCallback(void (*func)(void*), void* userData);
    // Runs the record's function unless it already ran, then frees the record. A handle
    // that names no pending record of this manager does nothing.
    void call(void* handle);
    // Takes back a pending record that the browser refused to schedule; it never runs and
    // is freed. False when the record was no longer pending (shutdown ran it already).
    bool cancel(void* handle);
    // Runs every pending record now, on this thread, and refuses new ones.
    void shutdown();

    // What the browser runs on its main thread, with a handle from makeCallback. A handle
    // whose record is gone (it ran, or its manager is gone) does nothing.
    static void asyncCallbackFunction(void* handle);

private:
    // The pending record of that handle, or the end of the list. Caller holds m_mutex.
    std::list<AsyncCallData*>::iterator findPending(std::uintptr_t handle);

    int m_lastId;
    std::recursive_mutex m_mutex;
    std::list<AsyncCallData*> m_pending;
    // Records run by shutdown; kept until the manager goes.
    std::set<AsyncCallData*> m_cancelled;
    bool m_shutDown;
};

} // namespace FB
