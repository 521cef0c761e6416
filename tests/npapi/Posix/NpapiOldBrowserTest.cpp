// A browser older than NPAPI version 19 on Linux: no thread hand-over and no message
// window, so calls from other threads are refused at once instead of waiting forever.

#include "NpapiFixture.h"
#include "NpapiHostFactory.h"

#include <string>

using orv::test::NpapiFixture;

TEST_F(NpapiFixture, OldBrowserRefusesCallsFromOtherThreads) {
    NPNetscapeFuncs version18 = *browser.table();
    version18.version = 18;
    auto old = FB::Npapi::createNpapiBrowserHost(&module, browser.instance(1), true);
    old->setBrowserFuncs(&version18);
    EXPECT_EQ(old->browserFuncs().pluginthreadasynccall, nullptr);
    std::string error;
    onWorker([&] {
        try {
            old->CallOnMainThread([] { return 1; });
        } catch (const FB::script_error& e) {
            error = e.what();
        }
    });
    EXPECT_EQ(error, "Could not marshal to main thread");
    // On the main thread a call still runs at once.
    EXPECT_EQ(old->CallOnMainThread([] { return 2; }), 2);
    old->shutdown();
}
