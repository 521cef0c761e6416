// The host's cross-thread lock: shared owners coexist with one upgrade owner; upgrade
// owners exclude each other; exclusive ownership waits for everyone.

#include "BoundedThread.h"
#include "UpgradeMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <shared_mutex>
#include <thread>

using orv::test::BoundedThread;

namespace {

constexpr std::chrono::milliseconds kBlocked(100);  // long enough to see a thread is stuck

} // namespace

TEST(UpgradeMutex, UpgradeCoexistsWithSharedOwners) {
    FB::UpgradeMutex mutex;
    mutex.lock_shared();
    mutex.lock_shared();  // the same thread again (a nested main-thread call)
    BoundedThread upgrader([&] {
        mutex.lock_upgrade();
        mutex.unlock_upgrade();
    });
    EXPECT_TRUE(upgrader.finishedWithin(std::chrono::seconds(10)));
    BoundedThread reader([&] {
        std::shared_lock<FB::UpgradeMutex> lock(mutex);
    });
    EXPECT_TRUE(reader.finishedWithin(std::chrono::seconds(10)));
    mutex.unlock_shared();
    mutex.unlock_shared();
}

TEST(UpgradeMutex, UpgradeOwnersExcludeEachOther) {
    FB::UpgradeMutex mutex;
    std::atomic<bool> second{false};
    mutex.lock_upgrade();
    BoundedThread other([&] {
        FB::upgrade_lock lock(mutex);
        second = true;
    });
    EXPECT_FALSE(other.finishedWithin(kBlocked));
    EXPECT_FALSE(second);
    mutex.lock_shared();  // readers still get in
    mutex.unlock_shared();
    mutex.unlock_upgrade();
    EXPECT_TRUE(other.finishedWithin(std::chrono::seconds(10)));
    EXPECT_TRUE(second);
}

TEST(UpgradeMutex, ExclusiveWaitsForSharedOwnersAndBlocksNewOnes) {
    FB::UpgradeMutex mutex;
    std::atomic<bool> upgraded{false}, exclusive{false}, release{false};
    mutex.lock_shared();
    BoundedThread upgrader([&] {
        mutex.lock_upgrade();
        upgraded = true;
        mutex.unlock_upgrade_and_lock();
        exclusive = true;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!release && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        mutex.unlock();
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!upgraded && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_FALSE(upgrader.finishedWithin(kBlocked));
    EXPECT_FALSE(exclusive);  // a shared owner is still inside

    mutex.unlock_shared();
    while (!exclusive && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(exclusive);
    BoundedThread reader([&] { std::shared_lock<FB::UpgradeMutex> lock(mutex); });
    EXPECT_FALSE(reader.finishedWithin(kBlocked));
    release = true;
    EXPECT_TRUE(upgrader.finishedWithin(std::chrono::seconds(10)));
    EXPECT_TRUE(reader.finishedWithin(std::chrono::seconds(10)));
}
