// The name-to-id map that the ActiveX adapter shares across the process, resolved from
// several threads at once as Internet Explorer's tabs do: every name ends with exactly one
// id, the ids are the consecutive ones handed out, and each reads back as its name.

#include "TypeIDMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using FB::variant;

TEST(TypeIDMap, ThreadsResolvingNewNamesAtOnceAgreeOnOneIdEach) {
    constexpr long kStart = 100;
    constexpr int kThreads = 4;
    constexpr int kNames = 3000;
    FB::TypeIDMap<long> map(kStart);
    map.setIdForValue(-525, variant(std::string("readystate")));

    std::vector<std::wstring> names;
    for (int i = 0; i < kNames; ++i)
        names.push_back(L"member" + std::to_wstring(i));

    std::atomic<int> ready(0);
    std::vector<std::map<std::wstring, long>> seen(kThreads);
    std::vector<int> badReads(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the names in its own order, so inserts really interleave.
            std::vector<std::wstring> order = names;
            if (t % 2)
                std::reverse(order.begin(), order.end());
            else
                std::rotate(order.begin(), order.begin() + t * kNames / kThreads, order.end());
            ++ready;
            while (ready < kThreads) {
            }
            for (const std::wstring& name : order) {
                const long id = map.getIdForValue(variant(name));
                seen[t][name] = id;
                if (!map.idExists(id) || map.getValueForId<std::wstring>(id) != name)
                    ++badReads[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::set<long> ids;
    for (const std::wstring& name : names) {
        const long id = seen[0][name];
        for (int t = 1; t < kThreads; ++t)
            ASSERT_EQ(seen[t][name], id) << "threads disagree on the id of a name";
        EXPECT_EQ(map.getValueForId<std::wstring>(id), name);
        ids.insert(id);
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(badReads[t], 0);
    // No id was handed out twice or skipped.
    ASSERT_EQ(ids.size(), static_cast<size_t>(kNames));
    EXPECT_EQ(*ids.begin(), kStart);
    EXPECT_EQ(*ids.rbegin(), kStart + kNames - 1);
    EXPECT_EQ(map.size(), static_cast<size_t>(kNames) + 1);
    EXPECT_EQ(map.getIdForValue(variant(std::wstring(L"next"))), kStart + kNames);
}

} // namespace
