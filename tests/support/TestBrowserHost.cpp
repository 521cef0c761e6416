#include "TestBrowserHost.h"

namespace orv { namespace test {

MainThreadQueue::MainThreadQueue() {
    std::promise<std::thread::id> started;
    std::future<std::thread::id> id = started.get_future();
    m_thread = std::thread([this, &started] {
        started.set_value(std::this_thread::get_id());
        loop();
    });
    m_id = id.get();
}

MainThreadQueue::~MainThreadQueue() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void MainThreadQueue::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_changed.notify_all();
}

bool MainThreadQueue::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_tasks.empty() && !m_busy; });
}

void MainThreadQueue::loop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_tasks.empty())
            return;  // stopping, and nothing left to run
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_busy = true;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

std::shared_ptr<TestBrowserHost> TestBrowserHost::create(MainThreadQueue& queue) {
    return queue.run([&queue] { return std::make_shared<TestBrowserHost>(queue); });
}

std::vector<TestBrowserHost::HeldCall> TestBrowserHost::heldCalls() const {
    std::lock_guard<std::mutex> lock(m_heldMutex);
    return m_held;
}

FB::DOM::WindowPtr TestBrowserHost::getDOMWindow() {
    if (m_windowFails)
        throw FB::script_error("no window");
    return m_window;
}

bool TestBrowserHost::_scheduleAsyncCall(void (*func)(void*), void* userData) const {
    ++m_scheduled;
    if (m_refuse)
        return false;
    if (m_hold) {
        std::lock_guard<std::mutex> lock(m_heldMutex);
        m_held.push_back(HeldCall{func, userData});
        return true;
    }
    m_queue.post([func, userData] { func(userData); });
    return true;
}

}} // namespace orv::test
