// A browser older than NPAPI version 19 on Windows: its instances' calls from other
// threads reach the main thread through the host's hidden message window.

#include "NpapiFixture.h"
#include "NpapiBrowserHostAsyncWin.h"
#include "NpapiHostFactory.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

using orv::test::NpapiFixture;

TEST_F(NpapiFixture, OldBrowserCallsArriveThroughTheMessageWindow) {
    NPNetscapeFuncs version18 = *browser.table();
    version18.version = 18;
    auto old = FB::Npapi::createNpapiBrowserHost(&module, browser.instance(1), true);
    ASSERT_TRUE(std::dynamic_pointer_cast<FB::Npapi::NpapiBrowserHostAsyncWin>(old));
    old->setBrowserFuncs(&version18);

    std::atomic<bool> done{false};
    std::thread::id ranOn;
    int answer = 0;
    std::thread worker([&] {
        answer = old->CallOnMainThread([&] {
            ranOn = std::this_thread::get_id();
            return 42;
        });
        done = true;
    });
    // The main thread's message loop, as a browser runs it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(done) << "the call never ran";
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(browser.callCount("pluginthreadasynccall"), 0);
    old->shutdown();
}
