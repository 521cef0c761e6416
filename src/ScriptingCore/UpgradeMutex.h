#pragma once
// A reader/writer lock with upgrade ownership, built on the standard library.
//
// Shared owners coexist with each other and with one upgrade owner; upgrade ownership is
// exclusive among upgraders and can be turned into exclusive ownership once the shared
// owners have left. Exclusive ownership excludes everything. A thread may take shared
// ownership again while it holds it (a main-thread call that nests another), which
// std::shared_mutex does not allow.

#include <condition_variable>
#include <mutex>

namespace FB {

class UpgradeMutex {
public:
    UpgradeMutex() = default;
    UpgradeMutex(const UpgradeMutex&) = delete;
    UpgradeMutex& operator=(const UpgradeMutex&) = delete;

    void lock_shared() {
        std::unique_lock<std::mutex> lock(m_state);
        m_changed.wait(lock, [this] { return !m_exclusive; });
        ++m_shared;
    }
    void unlock_shared() {
        std::lock_guard<std::mutex> lock(m_state);
        --m_shared;
        m_changed.notify_all();
    }

    void lock_upgrade() {
        std::unique_lock<std::mutex> lock(m_state);
        m_changed.wait(lock, [this] { return !m_exclusive && !m_upgrade; });
        m_upgrade = true;
    }
    void unlock_upgrade() {
        std::lock_guard<std::mutex> lock(m_state);
        m_upgrade = false;
        m_changed.notify_all();
    }

    // Upgrade owner to exclusive owner: waits for the shared owners to leave.
    void unlock_upgrade_and_lock() {
        std::unique_lock<std::mutex> lock(m_state);
        m_changed.wait(lock, [this] { return m_shared == 0; });
        m_upgrade = false;
        m_exclusive = true;
    }

    void lock() {
        std::unique_lock<std::mutex> lock(m_state);
        m_changed.wait(lock, [this] { return !m_exclusive && !m_upgrade && m_shared == 0; });
        m_exclusive = true;
    }
    void unlock() {
        std::lock_guard<std::mutex> lock(m_state);
        m_exclusive = false;
        m_changed.notify_all();
    }

private:
    std::mutex m_state;
    std::condition_variable m_changed;
    unsigned m_shared = 0;
    bool m_upgrade = false;
    bool m_exclusive = false;
};

// Scoped upgrade ownership.
class upgrade_lock {
public:
    explicit upgrade_lock(UpgradeMutex& mutex) : m_mutex(mutex) { m_mutex.lock_upgrade(); }
    ~upgrade_lock() { m_mutex.unlock_upgrade(); }
    upgrade_lock(const upgrade_lock&) = delete;
    upgrade_lock& operator=(const upgrade_lock&) = delete;

private:
    UpgradeMutex& m_mutex;
};

} // namespace FB
