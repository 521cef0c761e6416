// The observer mechanism: delivery order, the first handler that answers, sinks that go
// away before or during a delivery, handlers that change the list or throw.

#include "PluginEventSource.h"
#include "PluginEvents/GeneralEvents.h"
#include "PluginEvents/MouseEvents.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Journal = std::vector<std::string>;

std::string kindOf(FB::PluginEvent* event) {
    if (event->get<FB::AttachedEvent>())
        return "attached";
    if (event->get<FB::DetachedEvent>())
        return "detached";
    if (event->get<FB::MouseDownEvent>())
        return "mousedown";
    if (event->get<FB::TimerEvent>())
        return "timer";
    return "other";
}

class Sink : public FB::PluginEventSink {
public:
    using Handler = std::function<bool(FB::PluginEvent*, FB::PluginEventSource*)>;
    Sink(Journal& journal, std::string name, Handler handler = nullptr)
        : m_journal(journal), m_name(std::move(name)), m_handler(std::move(handler)) {}
    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) override {
        m_journal.push_back(m_name + ":" + kindOf(event));
        return m_handler ? m_handler(event, source) : false;
    }

private:
    Journal& m_journal;
    std::string m_name;
    Handler m_handler;
};

class Source : public FB::PluginEventSource {
public:
    std::size_t entries() {
        std::lock_guard<std::recursive_mutex> lock(m_observerMutex);
        return m_observers.size();
    }
};

bool onlyMouse(FB::PluginEvent* event, FB::PluginEventSource*) {
    return event->get<FB::MouseDownEvent>() != nullptr;
}

bool sendMouse(FB::PluginEventSource& source) {
    FB::MouseDownEvent event(FB::MouseButton_Left, 1, 2);
    return source.sendEvent(&event);
}

TEST(PluginEventSource, ObserversAreToldOfAttachAndCalledInAttachOrder) {
    Journal journal;
    Source source;
    auto a = std::make_shared<Sink>(journal, "a");
    auto b = std::make_shared<Sink>(journal, "b");
    source.attachObserver(a);
    source.attachObserver(b.get());  // the raw-pointer overload finds the shared handle
    EXPECT_FALSE(sendMouse(source));
    EXPECT_EQ(journal, (Journal{"a:attached", "b:attached", "a:mousedown", "b:mousedown"}));
}

TEST(PluginEventSource, TheFirstObserverThatHandlesTheEventEndsTheWalk) {
    Journal journal;
    Source source;
    auto a = std::make_shared<Sink>(journal, "a", onlyMouse);
    auto b = std::make_shared<Sink>(journal, "b");
    source.attachObserver(a);
    source.attachObserver(b);
    journal.clear();
    EXPECT_TRUE(sendMouse(source));
    FB::TimerEvent timer(1, 0);
    EXPECT_FALSE(source.sendEvent(&timer));
    EXPECT_EQ(journal, (Journal{"a:mousedown", "a:timer", "b:timer"}));
}

TEST(PluginEventSource, AnObserverThatIsGoneIsSkippedAndItsEntryDroppedOnTheNextDetach) {
    Journal journal;
    Source source;
    auto a = std::make_shared<Sink>(journal, "a");
    auto b = std::make_shared<Sink>(journal, "b");
    source.attachObserver(a);
    source.attachObserver(b);
    a.reset();
    journal.clear();
    EXPECT_FALSE(sendMouse(source));
    EXPECT_EQ(journal, (Journal{"b:mousedown"}));
    EXPECT_EQ(source.entries(), 2u);
    source.detachObserver(b);
    EXPECT_EQ(journal.back(), "b:detached");
    EXPECT_EQ(source.entries(), 0u);
}

TEST(PluginEventSource, AnObserverDestroyedByAnEarlierHandlerIsNotCalled) {
    Journal journal;
    Source source;
    std::shared_ptr<Sink> b;
    auto a = std::make_shared<Sink>(journal, "a", [&](FB::PluginEvent* e, FB::PluginEventSource*) {
        if (e->get<FB::MouseDownEvent>())
            b.reset();  // the only owner
        return false;
    });
    b = std::make_shared<Sink>(journal, "b");
    source.attachObserver(a);
    source.attachObserver(b);
    journal.clear();
    EXPECT_FALSE(sendMouse(source));
    EXPECT_EQ(journal, (Journal{"a:mousedown"}));
}

// An observer whose only owner is the handle the caller passed in, and which lets go of
// that owner from inside its own call. What it does afterwards goes through globals only:
// if the source failed to hold it, its own memory is gone by then.
class SelfReleasingSink : public FB::PluginEventSink {
public:
    // Of the sink's base type: a handle of any other type would reach the source as a
    // temporary copy, which would keep the sink alive instead of the source.
    static FB::PluginEventSinkPtr owner;
    static std::string releaseOn;
    static bool destroyed;
    static Journal journal;

    ~SelfReleasingSink() override { destroyed = true; }
    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource*) override {
        if (kindOf(event) != releaseOn)
            return false;
        owner.reset();
        journal.push_back(destroyed ? "destroyed during its own call" : "still alive in its call");
        return false;
    }
};
FB::PluginEventSinkPtr SelfReleasingSink::owner;
std::string SelfReleasingSink::releaseOn;
bool SelfReleasingSink::destroyed = false;
Journal SelfReleasingSink::journal;

TEST(PluginEventSource, AnObserverThatDropsItsLastOwnerDuringItsOwnCallFinishesTheCall) {
    for (const char* during : {"attached", "mousedown", "detached"}) {
        SCOPED_TRACE(during);
        Source source;
        SelfReleasingSink::owner = std::make_shared<SelfReleasingSink>();
        SelfReleasingSink::releaseOn = during;
        SelfReleasingSink::destroyed = false;
        SelfReleasingSink::journal.clear();
        // The caller's own handle: the source must hold the sink itself.
        source.attachObserver(SelfReleasingSink::owner);
        if (SelfReleasingSink::owner) {
            EXPECT_FALSE(sendMouse(source));
        }
        if (SelfReleasingSink::owner)
            source.detachObserver(SelfReleasingSink::owner);
        EXPECT_EQ(SelfReleasingSink::journal, Journal{"still alive in its call"});
        EXPECT_TRUE(SelfReleasingSink::destroyed) << "let go of once the call returned";
        EXPECT_FALSE(sendMouse(source));  // the entry is dead now
    }
}

TEST(PluginEventSource, AHandlerThatDestroysTheSourceEndsTheWalk) {
    Journal journal;
    auto source = std::make_unique<Source>();
    auto a = std::make_shared<Sink>(journal, "a", [&](FB::PluginEvent* e, FB::PluginEventSource*) {
        if (e->get<FB::MouseDownEvent>())
            source.reset();  // as a window cleared from inside its own event
        return false;
    });
    auto b = std::make_shared<Sink>(journal, "b");
    source->attachObserver(a);
    source->attachObserver(b);
    journal.clear();
    FB::MouseDownEvent event(FB::MouseButton_Left, 1, 2);
    EXPECT_FALSE(source->sendEvent(&event));
    EXPECT_EQ(source, nullptr);
    EXPECT_EQ(journal, Journal{"a:mousedown"}) << "nobody hears from a source that is gone";
}

TEST(PluginEventSource, ChangesMadeByAHandlerDoNotAlterTheWalkInProgress) {
    Journal journal;
    Source source;
    auto b = std::make_shared<Sink>(journal, "b");
    auto c = std::make_shared<Sink>(journal, "c");
    bool changed = false;
    auto a = std::make_shared<Sink>(journal, "a", [&](FB::PluginEvent* e, FB::PluginEventSource* s) {
        if (e->get<FB::MouseDownEvent>() && !changed) {
            changed = true;
            s->detachObserver(b);
            s->attachObserver(c);
        }
        return false;
    });
    source.attachObserver(a);
    source.attachObserver(b);
    journal.clear();
    sendMouse(source);
    EXPECT_EQ(journal, (Journal{"a:mousedown", "b:detached", "c:attached", "b:mousedown"}));
    journal.clear();
    sendMouse(source);
    EXPECT_EQ(journal, (Journal{"a:mousedown", "c:mousedown"}));
}

TEST(PluginEventSource, AHandlerMaySendThroughTheSameSourceOnItsThread) {
    Journal journal;
    Source source;
    auto a = std::make_shared<Sink>(journal, "a", [&](FB::PluginEvent* e, FB::PluginEventSource* s) {
        if (e->get<FB::MouseDownEvent>()) {
            FB::TimerEvent nested(7, 0);
            s->sendEvent(&nested);
        }
        return false;
    });
    source.attachObserver(a);
    journal.clear();
    sendMouse(source);
    EXPECT_EQ(journal, (Journal{"a:mousedown", "a:timer"}));
}

TEST(PluginEventSource, DetachTellsOnlyTheDetachedObserver) {
    Journal journal;
    Source source;
    auto a = std::make_shared<Sink>(journal, "a");
    auto b = std::make_shared<Sink>(journal, "b");
    auto stranger = std::make_shared<Sink>(journal, "stranger");
    source.attachObserver(a);
    source.attachObserver(b);
    journal.clear();
    source.detachObserver(stranger);
    source.detachObserver(a.get());
    EXPECT_EQ(journal, (Journal{"a:detached"}));
    sendMouse(source);
    EXPECT_EQ(journal.back(), "b:mousedown");
    EXPECT_EQ(source.entries(), 1u);
}

TEST(PluginEventSource, AThrowingHandlerReachesTheSenderAndLeavesTheSourceUsable) {
    Journal journal;
    Source source;
    auto a = std::make_shared<Sink>(journal, "a", [](FB::PluginEvent* e, FB::PluginEventSource*) -> bool {
        if (e->get<FB::MouseDownEvent>())
            throw std::runtime_error("handler failed");
        return false;
    });
    source.attachObserver(a);
    EXPECT_THROW(sendMouse(source), std::runtime_error);
    // Another thread can still deliver: the mutex went with the exception.
    auto other = std::async(std::launch::async, [&] {
        FB::TimerEvent timer(1, 0);
        return source.sendEvent(&timer);
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(other.get());
}

TEST(PluginEventSource, ASinkOutsideASharedHandleCannotBeAttached) {
    Journal journal;
    Source source;
    Sink onStack(journal, "stack");
    EXPECT_THROW(source.attachObserver(&onStack), std::bad_weak_ptr);
    source.detachObserver(&onStack);  // nothing to detach, nothing told
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(source.entries(), 0u);
}

TEST(MouseCoordinates, BothHalvesOfLParamAreSignExtended) {
    struct Case {
        std::intptr_t lParam;
        std::int32_t x;
        std::int32_t y;
    };
    const Case cases[] = {
        {0x00140010, 16, 20},
        {static_cast<std::intptr_t>(static_cast<std::int32_t>(0xFFFEFFFF)), -1, -2},
        {static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80007FFF)), 32767, -32768},
        {static_cast<std::intptr_t>(static_cast<std::uint32_t>(0x7FFF8000)), -32768, 32767},
        {-1, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FB::mouseX(c.lParam), c.x) << std::hex << c.lParam;
        EXPECT_EQ(FB::mouseY(c.lParam), c.y) << std::hex << c.lParam;
    }
}

} // namespace
