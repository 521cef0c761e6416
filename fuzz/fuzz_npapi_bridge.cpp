// The NPObject bridge as a browser drives it: the NPClass entry points of a plug-in object
// (hasMethod, invoke, invokeDefault, hasProperty, getProperty, setProperty, removeProperty,
// enumerate, construct) and of the method and listener objects it hands out, with
// identifiers (member names, any bytes, integers) and NPVariants of every type (strings with
// zero bytes and invalid UTF-8, NaN, infinities, limits, void, null, page objects, the
// plug-in's own objects) drawn from the input, the host's conversions both ways, and events
// the plug-in fires at the handlers the page gave it. Each input runs in a fresh fake
// browser, which fails on a release of a dead object, a free of memory it did not hand out,
// and any object or memory left behind when the page goes.
// A failure of the browser's checks, or a result of no known type, ends the run.

#include "FakeNpapiBrowser.h"
#include "FuzzInput.h"
#include "NpapiFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using orv::fuzz::FuzzInput;
using orv::test::FakeNpapiBrowser;
using orv::test::SampleAPI;
using FB::Npapi::NPJavascriptObject;

// The fake browser reports through GoogleTest; outside a test that report must end the run.
class AbortOnFailure : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.failed()) {
            std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?",
                         result.line_number(), result.message());
            std::abort();
        }
    }
};

const char* const kNames[] = {
    "echo", "count", "answer", "scriptError", "runtimeError", "outOfMemory", "throwsInt", "callBack",
    "prop", "onping", "addEventListener", "removeEventListener", "valid", "attachEvent", "toString",
    "length", "0", "",
};

class Session {
public:
    Session(FuzzInput& in) : in_(in) {
        module_.setNetscapeFuncs(browser_.table());
        host_ = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module_, browser_.instance());
        host_->setBrowserFuncs(browser_.table());
        api_ = std::make_shared<SampleAPI>();
        if (in_.byte() & 1)
            api_->withoutMethodObjects();
        if (in_.byte() & 1)
            api_->withoutDynamicAttributes();
        targets_.push_back(NPJavascriptObject::NewObject(host_, api_, false)->getNPObject());
    }

    ~Session() {
        for (NPObject* o : targets_)
            browser_.table()->releaseobject(o);
        api_.reset();
        host_->shutdown();
        host_.reset();
        browser_.runPendingCalls();
        // Every wrapper and reference the plug-in took is back with the browser.
        const std::size_t wrappers = browser_.aliveObjects(&NPJavascriptObject::NPJavascriptObjectClass);
        const std::size_t alive = browser_.aliveObjects();
        bool pageAsBefore = true;
        for (int which = 0; which < 2; ++which)
            pageAsBefore = pageAsBefore && browser_.refCount(browser_.window(which)) == 1 &&
                           browser_.refCount(browser_.document(which)) == 2 &&
                           browser_.refCount(browser_.element(which)) == 1;
                // A page object kept by one of the functions a wrapper owns (its listener functions,
        // as a property or as a listener of their own) may lead back to that wrapper: a cycle
        // the page made, which only the end of the instance frees (the browser's own checks
        // still apply then).
        const bool pageMadeCycle = functionKeepsObject_ && wrappers != 0;
        if (!pageMadeCycle && (wrappers != 0 || alive != 6 || browser_.pendingCalls() != 0 || !pageAsBefore)) {
            std::fprintf(stderr, "left behind: %zu plug-in wrappers, %zu objects (6 expected), %zu calls, page %s\n",
                         wrappers, alive, browser_.pendingCalls(), pageAsBefore ? "as before" : "references changed");
            std::abort();
        }
    }

    void step() {
        NPObject* target = targets_[in_.byte() % targets_.size()];
        const NPClass* cls = target->_class;
        NPVariant result;
        VOID_TO_NPVARIANT(result);
        const int op = in_.byte() % 13;
        if (std::getenv("FUZZ_TRACE"))
            std::fprintf(stderr, "step: op %d on target %zu of %zu\n", op,
                         static_cast<std::size_t>(std::find(targets_.begin(), targets_.end(), target) - targets_.begin()),
                         targets_.size());
        switch (op) {
        case 0:
            (void)cls->hasMethod(target, identifier());
            break;
        case 1: {
            const NPIdentifier name = identifier();
            std::vector<NPVariant> args = arguments(target);
            if (cls->invoke(target, name, args.data(), static_cast<uint32_t>(args.size()), &result))
                keep(result);
            release(args);
            break;
        }
        case 2: {
            std::vector<NPVariant> args = arguments(target);
            if (cls->invokeDefault(target, args.data(), static_cast<uint32_t>(args.size()), &result))
                keep(result);
            release(args);
            break;
        }
        case 3:
            (void)cls->hasProperty(target, identifier());
            break;
        case 4:
            if (cls->getProperty(target, identifier(), &result))
                keep(result);
            break;
        case 5: {
            const NPIdentifier name = identifier();
            drewObject_ = false;
            NPVariant value = npVariant(0);
            if (target != targets_[0] && drewObject_)
                functionKeepsObject_ = true;
            (void)cls->setProperty(target, name, &value);
            browser_.releaseValue(value);
            break;
        }
        case 6:
            (void)cls->removeProperty(target, identifier());
            break;
        case 7: {
            NPIdentifier* ids = nullptr;
            uint32_t count = 0;
            if (cls->enumerate(target, &ids, &count)) {
                for (uint32_t i = 0; i < count; ++i)
                    if (!ids[i])
                        std::abort();
                if (ids)
                    browser_.table()->memfree(ids);
            }
            break;
        }
        case 8: {
            std::vector<NPVariant> args = arguments(target);
            if (cls->construct(target, args.data(), static_cast<uint32_t>(args.size()), &result))
                keep(result);
            release(args);
            break;
        }
        case 9: {
            // Browser value -> variant -> browser value. The host's conversions may refuse
            // (a number that does not fit, a type without a script form) with an exception
            // its callers turn into a page exception; nothing else, and nothing left behind.
            NPVariant value = npVariant(0);
            NPVariant back;
            VOID_TO_NPVARIANT(back);
            try {
                const FB::variant v = host_->getVariant(&value);
                // A page array or object read as a list or a map, as a method taking one does.
                if (in_.byte() & 1) {
                    try {
                        (void)v.convert_cast<FB::VariantList>();
                    } catch (const std::exception&) {
                    }
                    try {
                        (void)v.convert_cast<FB::VariantMap>();
                    } catch (const std::exception&) {
                    }
                }
                host_->getNPVariant(&back, v);
                checkType(back);
            } catch (const std::exception&) {
            }
            browser_.releaseValue(back);
            browser_.releaseValue(value);
            break;
        }
        case 11:
        case 12: {
            // The plug-in fires an event at the page's handlers (added with addEventListener
            // or set as "onping"), with values of its own and of the page as arguments.
            FB::VariantList args;
            for (int n = in_.byte() % 4; n > 0; --n) {
                if (in_.byte() & 1) {
                    args.push_back(in_.value());
                } else {
                    drewObject_ = false;
                    NPVariant value = npVariant(0);
                    try {
                        args.push_back(host_->getVariant(&value));
                    } catch (const std::exception&) {
                    }
                    browser_.releaseValue(value);
                }
            }
            const std::string name = in_.byte() & 1 ? "onping" : in_.text();
            if (op == 11) {
                api_->FireEvent(name, args);
            } else {
                FB::VariantMap members;
                if (!args.empty())
                    members[in_.text()] = args.front();
                api_->FireJSEvent(name, members, args);
            }
            break;
        }
        default: {
            // Plug-in value -> browser value -> variant.
            const FB::variant v = in_.value();
            NPVariant out;
            VOID_TO_NPVARIANT(out);
            try {
                host_->getNPVariant(&out, v);
                checkType(out);
                (void)host_->getVariant(&out);
            } catch (const std::exception&) {
            }
            browser_.releaseValue(out);
            break;
        }
        }
        browser_.runPendingCalls();
    }

private:
    static void checkType(const NPVariant& v) {
        if (v.type > NPVariantType_Object)
            std::abort();
        if (v.type == NPVariantType_String && v.value.stringValue.UTF8Length > 0 &&
            !v.value.stringValue.UTF8Characters)
            std::abort();
        if (v.type == NPVariantType_Object && !v.value.objectValue)
            std::abort();
    }

    // A result the plug-in handed over: the browser owns it; a plug-in object in it becomes
    // one more object to call (while there are few), the rest is released.
    void keep(NPVariant& result) {
        checkType(result);
        if (NPVARIANT_IS_OBJECT(result) && targets_.size() < 8 &&
            NPJavascriptObject::isNPJavascriptObject(result.value.objectValue)) {
            targets_.push_back(result.value.objectValue);  // its reference is now ours
            return;
        }
        browser_.releaseValue(result);
    }

    NPIdentifier identifier() {
        const std::uint8_t b = in_.byte();
        switch (b % 4) {
        case 0:
        case 1: return browser_.stringId(kNames[in_.byte() % (sizeof kNames / sizeof kNames[0])]);
        case 2: return browser_.stringId(in_.text());  // zero bytes and invalid UTF-8 too
        default: return browser_.intId(in_.number<std::int32_t>());
        }
    }

    // Arguments for a call on target: a function object a wrapper owns may keep what it
    // is given (its own listeners, its properties).
    std::vector<NPVariant> arguments(const NPObject* target) {
        std::vector<NPVariant> args(in_.byte() % 5);
        drewObject_ = false;
        for (NPVariant& a : args)
            a = npVariant(0);
        if (target != targets_[0] && drewObject_)
            functionKeepsObject_ = true;
        return args;
    }

    void release(std::vector<NPVariant>& args) {
        for (NPVariant& a : args)
            browser_.releaseValue(a);
    }

    // A value the browser owns (its strings in browser memory, a reference to its objects).
    NPVariant npVariant(int depth) {
        NPVariant v;
        switch (in_.byte() % 12) {
        case 0: VOID_TO_NPVARIANT(v); break;
        case 1: NULL_TO_NPVARIANT(v); break;
        case 2: BOOLEAN_TO_NPVARIANT(in_.byte() & 1, v); break;
        case 3: INT32_TO_NPVARIANT(in_.number<std::int32_t>(), v); break;
        case 4: DOUBLE_TO_NPVARIANT(in_.number<double>(), v); break;  // any bits: NaN payloads too
        case 5: {
            static const double kEdges[] = {
                std::numeric_limits<double>::quiet_NaN(), HUGE_VAL, -HUGE_VAL, -0.0,
                std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                std::numeric_limits<double>::denorm_min(), 2147483648.0, -2147483649.0,
                9007199254740993.0, 4294967296.0, 0.5,
            };
            DOUBLE_TO_NPVARIANT(kEdges[in_.byte() % (sizeof kEdges / sizeof kEdges[0])], v);
            break;
        }
        case 6:
        case 7: v = browser_.stringVariant(in_.text()); break;
        case 8: {
            drewObject_ = true;
            NPObject* o = targets_[in_.byte() % targets_.size()];
            browser_.table()->retainobject(o);
            OBJECT_TO_NPVARIANT(o, v);
            break;
        }
        case 9: {
            drewObject_ = true;
            NPObject* pages[] = {browser_.window(), browser_.document(), browser_.element()};
            NPObject* o = pages[in_.byte() % 3];
            browser_.table()->retainobject(o);
            OBJECT_TO_NPVARIANT(o, v);
            break;
        }
        case 10: {
            drewObject_ = true;
            // A page array or object with members of their own.
            orv::test::PageObject* o =
                in_.byte() & 1 ? browser_.newArray(browser_.instance()) : browser_.newObject(browser_.instance());
            const int count = depth < 2 ? in_.byte() % 4 : 0;
            for (int i = 0; i < count; ++i) {
                NPVariant member = npVariant(depth + 1);
                browser_.setProperty(o, i % 2 ? in_.text() : std::to_string(i), member);
                browser_.releaseValue(member);
            }
            OBJECT_TO_NPVARIANT(o, v);
            break;
        }
        default: {
            drewObject_ = true;
            // A page function that answers with a value of its own.
            const std::uint8_t kind = in_.byte() % 3;
            const std::int32_t number = in_.number<std::int32_t>();
            const std::string text = kind == 2 ? in_.text() : std::string();
            FakeNpapiBrowser* browser = &browser_;
            orv::test::PageObject* f = browser_.newFunction(
                browser_.instance(), [=](const std::vector<NPVariant>&, NPVariant* out) {
                    if (kind == 0)
                        VOID_TO_NPVARIANT(*out);
                    else if (kind == 1)
                        INT32_TO_NPVARIANT(number, *out);
                    else
                        *out = browser->stringVariant(text);
                    return true;
                });
            OBJECT_TO_NPVARIANT(f, v);
            break;
        }
        }
        return v;
    }

    FuzzInput& in_;
    FakeNpapiBrowser browser_;
    FB::Npapi::NpapiPluginModule module_;
    FB::Npapi::NpapiBrowserHostPtr host_;
    std::shared_ptr<SampleAPI> api_;
    std::vector<NPObject*> targets_;      // plug-in objects, one reference each
    bool drewObject_ = false;             // the value drawn last holds an object
    bool functionKeepsObject_ = false;    // a plug-in function object was given one
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::testing::UnitTest::GetInstance()->listeners().Append(new AbortOnFailure);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Session session(in);
    for (int i = 0; i < 48 && !in.empty(); ++i)
        session.step();
    return 0;
}
