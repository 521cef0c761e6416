#pragma once
// A worker thread whose end the test waits for with a time limit. A worker that never
// ends aborts the test program (a failure) rather than letting the run hang.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

namespace orv { namespace test {

class BoundedThread {
public:
    explicit BoundedThread(std::function<void()> body) {
        std::packaged_task<void()> task(std::move(body));
        m_done = task.get_future();
        m_thread = std::thread(std::move(task));
    }
    ~BoundedThread() {
        if (!finishedWithin(std::chrono::seconds(10))) {
            std::fprintf(stderr, "worker thread hangs; giving up\n");
            std::abort();
        }
        m_thread.join();
    }
    BoundedThread(const BoundedThread&) = delete;
    BoundedThread& operator=(const BoundedThread&) = delete;

    bool finishedWithin(std::chrono::milliseconds limit) {
        return m_done.wait_for(limit) == std::future_status::ready;
    }

private:
    std::future<void> m_done;
    std::thread m_thread;
};

}} // namespace orv::test
