#include "AsyncCallManager.h"

#include "logging.h"

#include <algorithm>
#include <exception>

namespace FB {

namespace {

// Every record that exists, process-wide. The browser hands back a bare pointer, possibly
// after the record was freed (a call scheduled twice, a call that shutdown ran first);
// looking it up here first keeps the trampoline from touching freed memory.
struct LiveRecords {
    std::mutex mutex;
    std::set<const AsyncCallData*> records;
};

LiveRecords& liveRecords() {
    static LiveRecords live;
    return live;
}

AsyncCallData* newRecord(void (*func)(void*), void* userData, int id, const AsyncCallManagerPtr& mgr) {
    auto* data = new AsyncCallData(func, userData, id, mgr);
    LiveRecords& live = liveRecords();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.records.insert(data);
    return data;
}

void freeRecord(AsyncCallData* data) {
    {
        LiveRecords& live = liveRecords();
        std::lock_guard<std::mutex> lock(live.mutex);
        live.records.erase(data);
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

AsyncCallData* AsyncCallManager::makeCallback(void (*func)(void*), void* userData) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_shutDown)
        return nullptr;
    AsyncCallData* data = newRecord(func, userData, ++m_lastId, shared_from_this());
    m_pending.push_back(data);
    return data;
}

void AsyncCallManager::call(AsyncCallData* data) {
    void (*func)(void*) = nullptr;
    void* userData = nullptr;
    int id = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        func = claim(data);
        userData = data->userData;
        id = data->uniqId;
    }
    if (func)
        func(userData);  // without the mutex: the call may schedule others
    // The record is not read again: a modal loop inside func may have run this trampoline
    // a second time, which found nothing to run and freed the record already, and a record
    // made since may live at the same address; only the id tells them apart.
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = std::find(m_pending.begin(), m_pending.end(), data);
    if (it != m_pending.end() && (*it)->uniqId == id) {
        m_pending.erase(it);
        freeRecord(data);
    }
}

bool AsyncCallManager::cancel(AsyncCallData* data) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = std::find(m_pending.begin(), m_pending.end(), data);
    if (it == m_pending.end())
        return false;
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

void AsyncCallManager::asyncCallbackFunction(void* userData) {
    auto* data = static_cast<AsyncCallData*>(userData);
    AsyncCallManagerPtr manager;
    {
        LiveRecords& live = liveRecords();
        std::lock_guard<std::mutex> lock(live.mutex);
        if (live.records.find(data) == live.records.end())
            return;
        manager = data->manager.lock();
    }
    // While the manager lives, so do its records (it frees them only in call and cancel).
    if (manager)
        manager->call(data);
}

} // namespace FB
