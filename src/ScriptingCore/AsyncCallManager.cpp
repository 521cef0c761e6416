#include "AsyncCallManager.h"

#include "logging.h"

#include <exception>
#include <unordered_map>

namespace FB {

namespace {

// Every record that exists, process-wide, by handle. The browser hands back only a
// handle, possibly after the record was freed (a call scheduled twice, a call that
// shutdown ran first); a handle not found here names nothing.
struct Records {
    std::mutex mutex;
    std::uintptr_t lastHandle = 0;
    std::unordered_map<std::uintptr_t, AsyncCallData*> byHandle;
};

Records& records() {
    static Records all;
    return all;
}

void* asHandle(std::uintptr_t handle) {
    return reinterpret_cast<void*>(handle);
}

std::uintptr_t handleOf(void* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

AsyncCallData* newRecord(void (*func)(void*), void* userData, int id, const AsyncCallManagerPtr& mgr) {
    auto* data = new AsyncCallData(func, userData, id, mgr);
    Records& all = records();
    std::lock_guard<std::mutex> lock(all.mutex);
    // Counted up, so a handle comes back only after the counter wraps (2^32 calls on a
    // 32-bit build), and then never while its earlier record lives; zero is no handle.
    do {
        ++all.lastHandle;
    } while (all.lastHandle == 0 || all.byHandle.count(all.lastHandle) != 0);
    data->handle = all.lastHandle;
    all.byHandle.emplace(data->handle, data);
    return data;
}

void freeRecord(AsyncCallData* data) {
    {
        Records& all = records();
        std::lock_guard<std::mutex> lock(all.mutex);
        all.byHandle.erase(data->handle);
    }
    delete data;
}

// Takes the function out of the record, so that whoever gets it runs it and nobody else.
// Caller holds the manager's mutex.
void (*claim(AsyncCallData* data))(void*) {
    void (*func)(void*) = data->func;
    if (func) {
        data->func = nullptr;
        data->called = true;
    }
    return func;
}

} // namespace

AsyncCallManager::AsyncCallManager() : m_lastId(0), m_shutDown(false) {}

AsyncCallManager::~AsyncCallManager() {
    for (AsyncCallData* data : m_pending)
        freeRecord(data);
    for (AsyncCallData* data : m_cancelled)
        freeRecord(data);
}

std::list<AsyncCallData*>::iterator AsyncCallManager::findPending(std::uintptr_t handle) {
    auto it = m_pending.begin();
    while (it != m_pending.end() && (*it)->handle != handle)
        ++it;
    return it;
}

void* AsyncCallManager::makeCallback(void (*func)(void*), void* userData) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_shutDown)
        return nullptr;
    AsyncCallData* data = newRecord(func, userData, ++m_lastId, shared_from_this());
    m_pending.push_back(data);
    return asHandle(data->handle);
}

void AsyncCallManager::call(void* handle) {
    const std::uintptr_t key = handleOf(handle);
    void (*func)(void*) = nullptr;
    void* userData = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto it = findPending(key);
        if (it == m_pending.end())
            return;  // already run (and freed), or run by shutdown
        func = claim(*it);
        userData = (*it)->userData;
    }
    if (func)
        func(userData);  // without the mutex: the call may schedule others
    // Found again by handle: a modal loop inside func may have handed this call back, and
    // that nested run found nothing to run and freed the record already.
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = findPending(key);
    if (it != m_pending.end()) {
        AsyncCallData* data = *it;
        m_pending.erase(it);
        freeRecord(data);
    }
}

bool AsyncCallManager::cancel(void* handle) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = findPending(handleOf(handle));
    if (it == m_pending.end())
        return false;
    AsyncCallData* data = *it;
    m_pending.erase(it);
    freeRecord(data);
    return true;
}

void AsyncCallManager::shutdown() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_shutDown = true;
    std::list<AsyncCallData*> pending;
    pending.swap(m_pending);
    m_cancelled.insert(pending.begin(), pending.end());
    for (AsyncCallData* data : pending) {
        if (void (*func)(void*) = claim(data)) {
            try {
                func(data->userData);
            } catch (const std::exception& e) {
                // One failing call must not keep the others from their single run.
                FBLOG_WARN("AsyncCallManager", "Pending call failed during shutdown: " << e.what());
            }
        }
    }
}

void AsyncCallManager::asyncCallbackFunction(void* handle) {
    AsyncCallManagerPtr manager;
    {
        Records& all = records();
        std::lock_guard<std::mutex> lock(all.mutex);
        auto it = all.byHandle.find(handleOf(handle));
        if (it == all.byHandle.end())
            return;
        manager = it->second->manager.lock();
    }
    if (manager)
        manager->call(handle);
}

} // namespace FB
