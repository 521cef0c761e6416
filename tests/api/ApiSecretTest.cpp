// "olvRepair" and the private key the page hands it: no heap block that held the key's text
// goes back to the allocator unwiped, on any way out of the call, exceptions included.
// This executable replaces the global allocation functions to look into every block freed
// during a call.

#include "FakeJSObject.h"
#include "PlatformRandom.h"
#include "RecordingErrorBox.h"
#include "api/orvantaAPI.h"
#include "utf8_tools.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // the pairs below match: malloc/free
#endif

namespace {

// While a pattern is set, every freed block is searched for it.
std::atomic<const std::string*> g_pattern{nullptr};
std::atomic<int> g_freedWithPattern{0};

constexpr std::size_t kHeader = 16;  // the block's size, in front of it; keeps malloc's alignment

void* allocate(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block)
        throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    return block + kHeader;
}

void release(void* p) noexcept {
    if (!p)
        return;
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    if (const std::string* pattern = g_pattern.load()) {
        const auto* bytes = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i + pattern->size() <= size; ++i)
            if (std::memcmp(bytes + i, pattern->data(), pattern->size()) == 0) {
                ++g_freedWithPattern;
                break;
            }
    }
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

using namespace orv;
using FB::variant;

// Looks for `pattern` in the blocks freed while it lives.
class FreedBlockWatch {
public:
    explicit FreedBlockWatch(std::string pattern) : pattern_(std::move(pattern)) {
        g_freedWithPattern = 0;
        g_pattern = &pattern_;
    }
    ~FreedBlockWatch() { g_pattern = nullptr; }
    int found() const { return g_freedWithPattern.load(); }

private:
    std::string pattern_;
};

// The key text as the page writes it (the alphabet's letters) and the same text once read
// as hex digits. The watch looks for 16 characters from its second half (a quarter of the
// key), which a text cut at a zero byte early on still holds past its end.
const std::string kKeyText = "BUNDLJEMEUJLMEMALLCLNEPEMXERRKMDJMCBEHANEANFLAMKDLDEEDCUALEHEBCH";
const std::string kKeyAsHex = "283BEC9198CE191DEE7E39491F96601BC1729AD39D35ED10BEB99B78DE9A927A";
const std::string kHash = "2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5";

struct Way {
    const char* name;
    variant key;
    std::function<variant()> hash;  // made inside the watch: what the page hands over
    bool throws;
};

TEST(ApiSecret, NoFreedBlockHoldsTheKeyTextOnAnyWayOut) {
    auto owner = std::make_shared<TokenOwner>();
    auto api = std::make_shared<orvantaAPI>(owner, nullptr);
    test::RecordingErrorBox boxes;
    const RandomSource previous = setRandomSource([](std::uint8_t* b, std::size_t n) {
        std::memset(b, 0x5A, n);
        return true;
    });
    const std::wstring loneSurrogate(64, static_cast<wchar_t>(0xD800));
    // Windows' conversion writes U+FFFD for a lone surrogate where the Linux one refuses
    // it; either way no freed block may keep the key.
    const bool badTextThrows = [&] {
        try {
            FB::wstring_to_utf8(loneSurrogate);
            return false;
        } catch (const std::exception&) {
            return true;
        }
    }();
    const Way ways[] = {
        {"signed", variant(kKeyText), [] { return variant(kHash); }, false},
        {"hash not converted (empty)", variant(kKeyText), [] { return variant(); }, true},
        {"hash not converted (an object)", variant(kKeyText),
         [] { return variant(FB::JSObjectPtr(test::FakeJSObject::create())); }, true},
        {"hash not converted (bad wide text)", variant(kKeyText), [&] { return variant(loneSurrogate); },
         badTextThrows},
        {"hash too short", variant(kKeyText), [] { return variant(std::string("00")); }, false},
        {"hash not hex", variant(kKeyText), [] { return variant(std::string(64, 'Z')); }, false},
        {"key cut at a zero byte", variant(kKeyText.substr(0, 20) + std::string(1, '\0') + kKeyText.substr(21)),
         [] { return variant(kHash); }, false},
    };
    for (const Way& way : ways) {
        for (const std::string& form : {kKeyText, kKeyAsHex}) {
            SCOPED_TRACE(std::string(way.name) + (form == kKeyText ? ", letters" : ", hex"));
            bool thrown = false;
            {
                FreedBlockWatch watch(form.substr(40, 16));
                try {
                    api->olvRepair(way.key, way.hash());
                } catch (...) {
                    thrown = true;
                }
                EXPECT_EQ(watch.found(), 0);
            }
            EXPECT_EQ(thrown, way.throws);
        }
    }
    setRandomSource(previous);
}

} // namespace
