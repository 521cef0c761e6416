// VARIANT conversions under random input: from a fixed seed, thousands of VARIANTs of every
// type, by value and by reference (null references among them), BSTRs with zeros and lone
// surrogates, SAFEARRAYs, null objects; and framework values of every held type, invalid
// UTF-8 and unpaired UTF-16 included. Both directions must never crash, throw nothing but
// the framework's script errors, give the same answer twice, leave the source as it was and
// give back every object reference and every block of the COM allocator they took.
// ORV_VARIANT_SEED picks another seed.

#include "ActiveXBrowserHost.h"
#include "JSAPIAuto.h"
#include "JSExceptions.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using FB::variant;
using FB::ActiveX::ActiveXBrowserHost;

// A page object that counts its references.
class Counted : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch))
            return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n)
            *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    long refs = 1;  // the test's own
};

// Counts the blocks the COM task allocator holds (BSTRs, SAFEARRAYs, copies) while it is
// registered: a conversion that leaves one more behind leaks.
class AllocationCount : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMallocSpy))
            return E_NOINTERFACE;
        *out = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (block)
            InterlockedIncrement(&live);
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
        if (block && spied)
            InterlockedDecrement(&live);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
        *newBlock = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
    volatile LONG live = 0;
};

class Api : public FB::JSAPIAuto {
public:
    Api() : FB::JSAPIAuto("random") {}
};

const VARTYPE kScalars[] = {VT_EMPTY, VT_NULL, VT_I2,  VT_I4,  VT_R4,   VT_R8,  VT_CY,       VT_DATE,
                            VT_BSTR,  VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1,
                            VT_UI2,   VT_UI4, VT_I8,  VT_UI8, VT_INT,  VT_UINT};
// Types a VARIANT may not hold, or only in a form these payloads do not give.
const VARTYPE kInvalid[] = {VT_VOID, VT_HRESULT, VT_PTR, VT_SAFEARRAY, VT_CARRAY, VT_USERDEFINED,
                            VT_LPSTR, VT_LPWSTR, VT_FILETIME, VT_BLOB, VT_CLSID, 0x7ff, 0x0fff};

class Generator {
public:
    Generator(unsigned seed, IDispatch* object) : m_rng(seed), m_object(object) {}

    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_rng); }
    unsigned long long bits() { return (static_cast<unsigned long long>(m_rng()) << 32) ^ m_rng(); }

    std::wstring text() {
        static const wchar_t kUnits[] = {0, L'a', L'Z', 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF, 0xFFFE, 0x0416, L'\'', L'"'};
        std::wstring out;
        for (unsigned n = pick(9); n > 0; --n)
            out += pick(4) ? kUnits[pick(sizeof kUnits / sizeof kUnits[0])] : static_cast<wchar_t>(pick(0x10000));
        return out;
    }

    // A VARIANT of the given base type (never by reference) with a random payload.
    void value(VARIANT* v, VARTYPE vt, int depth) {
        VariantInit(v);
        if (vt == VT_DECIMAL) {
            DECIMAL d;
            d.scale = static_cast<BYTE>(pick(4) ? pick(29) : pick(256));
            d.sign = pick(2) ? DECIMAL_NEG : 0;
            d.Hi32 = static_cast<ULONG>(bits());
            d.Lo64 = bits();
            V_DECIMAL(v) = d;
            V_VT(v) = VT_DECIMAL;
            return;
        }
        V_UI8(v) = bits();
        V_VT(v) = vt;
        if (vt == VT_BSTR) {
            const std::wstring t = text();
            V_BSTR(v) = pick(8) ? SysAllocStringLen(t.data(), static_cast<UINT>(t.size())) : nullptr;
        } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
            V_DISPATCH(v) = pick(4) ? m_object : nullptr;
            if (V_DISPATCH(v))
                m_object->AddRef();
        } else if (vt & VT_ARRAY) {
            const VARTYPE element = vt & VT_TYPEMASK;
            const ULONG count = pick(5);
            SAFEARRAY* array = SafeArrayCreateVector(element, 0, count);
            for (LONG i = 0; array && i < static_cast<LONG>(count); ++i) {
                VARIANT item;
                value(&item, element == VT_VARIANT ? scalar(depth + 1) : element, depth + 1);
                if (element == VT_VARIANT)
                    SafeArrayPutElement(array, &i, &item);
                else if (element == VT_BSTR)
                    SafeArrayPutElement(array, &i, V_BSTR(&item));
                else
                    SafeArrayPutElement(array, &i, &V_UI1(&item));
                VariantClear(&item);
            }
            V_ARRAY(v) = array;
        } else if (vt == VT_BOOL) {
            V_BOOL(v) = pick(3) ? (pick(2) ? VARIANT_TRUE : VARIANT_FALSE) : static_cast<VARIANT_BOOL>(bits());
        } else if (vt == VT_R8 && pick(4) == 0) {
            const double specials[] = {0.0 / 1.0, -0.0, 1e308 * 10, -1e308 * 10, std::nan(""), 4.9e-324};
            V_R8(v) = specials[pick(6)];
        }
    }

    VARTYPE scalar(int depth) {
        if (depth < 2 && pick(10) == 0) {
            const VARTYPE arrays[] = {VT_I4, VT_BSTR, VT_VARIANT, VT_R8, VT_UI1};
            return static_cast<VARTYPE>(VT_ARRAY | arrays[pick(5)]);
        }
        if (pick(20) == 0)
            return kInvalid[pick(sizeof kInvalid / sizeof kInvalid[0])];
        return kScalars[pick(sizeof kScalars / sizeof kScalars[0])];
    }

private:
    std::mt19937 m_rng;
    IDispatch* m_object;
};

// One random source: `top`, and for a reference the value it points into.
struct Sample {
    VARIANT top;
    VARIANT inner;
    Sample() {
        VariantInit(&top);
        VariantInit(&inner);
    }
    ~Sample() {
        if (V_VT(&top) & VT_BYREF)
            VariantInit(&top);  // points into inner, owns nothing
        else
            VariantClear(&top);
        VariantClear(&inner);
    }
};

void fill(Generator& gen, Sample& s) {
    const VARTYPE vt = gen.scalar(0);
    if (vt == VT_EMPTY || vt == VT_NULL || (vt & ~VT_TYPEMASK & ~VT_ARRAY) || gen.pick(3)) {
        gen.value(&s.top, vt, 0);
        return;
    }
    // By reference: to a value of that type, to a VARIANT, or a null reference.
    const bool toVariant = gen.pick(4) == 0;
    gen.value(&s.inner, toVariant ? gen.scalar(0) : vt, 0);
    V_VT(&s.top) = static_cast<VARTYPE>(VT_BYREF | (toVariant ? static_cast<VARTYPE>(VT_VARIANT) : vt));
    if (gen.pick(10) == 0)
        V_BYREF(&s.top) = nullptr;
    else if (toVariant || vt == VT_DECIMAL)
        V_BYREF(&s.top) = &s.inner;
    else
        V_BYREF(&s.top) = &V_UI1(&s.inner);
}

std::string bytesOf(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// Everything a conversion could change in a source: the VARIANT itself, its text, its array's
// elements, what it points to.
std::string snapshot(const VARIANT* v) {
    std::string out = bytesOf(v, sizeof *v);
    const VARTYPE vt = V_VT(v);
    if (vt == VT_BSTR && V_BSTR(v))
        out += bytesOf(V_BSTR(v), SysStringByteLen(V_BSTR(v)));
    if ((vt & VT_ARRAY) && !(vt & VT_BYREF) && V_ARRAY(v)) {
        SAFEARRAY* array = V_ARRAY(v);
        VARTYPE element = VT_EMPTY;
        SafeArrayGetVartype(array, &element);
        const ULONG count = array->rgsabound[0].cElements;
        out += bytesOf(array->pvData, count * array->cbElements);
        for (ULONG i = 0; i < count; ++i) {
            if (element == VT_BSTR && static_cast<BSTR*>(array->pvData)[i])
                out += bytesOf(static_cast<BSTR*>(array->pvData)[i], SysStringByteLen(static_cast<BSTR*>(array->pvData)[i]));
            else if (element == VT_VARIANT)
                out += snapshot(static_cast<VARIANT*>(array->pvData) + i);
        }
    }
    return out;
}

// A framework value as text, its type included, to compare two answers.
std::string describe(const variant& v) {
    std::string out = v.get_type().name();
    if (v.is_of_type<FB::JSObjectPtr>())
        return out + (v.cast<FB::JSObjectPtr>() ? ":object" : ":none");
    try {
        out += ":" + v.convert_cast<std::string>();
    } catch (const std::exception&) {
        out += ":?";
    }
    return out;
}

// A framework value of any held type.
variant randomValue(Generator& gen, const std::shared_ptr<Api>& api, int depth) {
    switch (gen.pick(depth < 2 ? 19 : 17)) {
    case 0: return variant();
    case 1: return variant(FB::variant_detail::null());
    case 2: return variant(gen.pick(2) == 1);
    case 3: return variant(static_cast<char>(gen.bits()));
    case 4: return variant(static_cast<unsigned char>(gen.bits()));
    case 5: return variant(static_cast<short>(gen.bits()));
    case 6: return variant(static_cast<unsigned short>(gen.bits()));
    case 7: return variant(static_cast<int>(gen.bits()));
    case 8: return variant(static_cast<long>(gen.bits()));
    case 9: return variant(static_cast<unsigned int>(gen.bits()));
    case 10: return variant(static_cast<long long>(gen.bits()));
    case 11: return variant(static_cast<unsigned long long>(gen.bits()));
    case 12: {
        double d;
        const unsigned long long b = gen.bits();
        std::memcpy(&d, &b, sizeof d);
        return gen.pick(2) ? variant(d) : variant(static_cast<float>(d));
    }
    case 13: {
        std::string bytes;
        for (unsigned n = gen.pick(12); n > 0; --n)
            bytes += static_cast<char>(gen.pick(4) ? 'a' + gen.pick(26) : gen.pick(256));
        return variant(bytes);
    }
    case 14: return variant(gen.text());
    case 15: return variant(FB::JSAPIPtr(api));
    case 16: return variant(FB::JSAPIWeakPtr(gen.pick(2) ? std::shared_ptr<Api>() : api));
    case 17: {
        FB::VariantList list;
        for (unsigned n = gen.pick(4); n > 0; --n)
            list.push_back(randomValue(gen, api, depth + 1));
        return variant(list);
    }
    default: {
        FB::VariantMap map;
        for (unsigned n = gen.pick(4); n > 0; --n)
            map[std::string(1, static_cast<char>('a' + gen.pick(26)))] = randomValue(gen, api, depth + 1);
        return variant(map);
    }
    }
}

unsigned seedToUse() {
    const char* text = std::getenv("ORV_VARIANT_SEED");
    return text ? static_cast<unsigned>(std::strtoul(text, nullptr, 0)) : 20261211u;
}

class VariantRandom : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        script = std::make_unique<orv::test::ScriptHost>();
        ASSERT_TRUE(script->started());
        IWebBrowser2* browser = script->makeBrowser();
        ASSERT_NE(browser, nullptr);
        host = std::make_shared<ActiveXBrowserHost>(browser, nullptr);
        browser->Release();
    }
    void TearDown() override {
        host->shutdown();
        host.reset();
        script.reset();
        CoUninitialize();
    }

    std::unique_ptr<orv::test::ScriptHost> script;
    std::shared_ptr<ActiveXBrowserHost> host;
};

const int kRounds = 20000;
const auto kTimeLimit = std::chrono::seconds(4);

TEST_F(VariantRandom, ComToFrameworkAndBack) {
    const unsigned seed = seedToUse();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (ORV_VARIANT_SEED)");
    Counted object;
    Generator gen(seed, &object);
    // Freed strings go back to the allocator at once, not into oleaut32's cache, so that the
    // count sees them.
    if (auto noCache = reinterpret_cast<void(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"))))
        noCache();
    AllocationCount allocations;
    ASSERT_EQ(CoRegisterMallocSpy(&allocations), S_OK);
    struct Unregister {
        ~Unregister() { CoRevokeMallocSpy(); }
    } unregister;
    BSTR probe = SysAllocString(L"probe");
    ASSERT_EQ(allocations.live, 1) << "strings do not come from the COM allocator; the count would not see them";
    SysFreeString(probe);
    const auto start = std::chrono::steady_clock::now();
    int round = 0;
    for (; round < kRounds && std::chrono::steady_clock::now() - start < kTimeLimit; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const LONG held = allocations.live;
        {
            Sample s;
            fill(gen, s);
            const std::string before = snapshot(&s.top) + snapshot(&s.inner);
            std::string first, second, back;
            try {
                variant a = host->getVariant(&s.top);
                variant b = host->getVariant(&s.top);
                first = describe(a);
                second = describe(b);
                VARIANT out;
                host->getComVariant(&out, a);
                back = describe(host->getVariant(&out));
                VariantClear(&out);
            } catch (const FB::script_error& e) {
                first = second = back = std::string("script error: ") + e.what();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "vt " << V_VT(&s.top) << ": " << e.what();
            }
            ASSERT_EQ(first, second) << "vt " << V_VT(&s.top);
            ASSERT_EQ(first, back) << "vt " << V_VT(&s.top);
            ASSERT_EQ(snapshot(&s.top) + snapshot(&s.inner), before) << "vt " << V_VT(&s.top);
        }
        ASSERT_EQ(object.refs, 1) << "a reference to a page object was kept";
        ASSERT_EQ(allocations.live, held) << "a conversion left a block of the COM allocator behind";
    }
    EXPECT_GE(round, 500) << "too few rounds in the time";
    std::printf("seed %u: %d VARIANTs converted\n", seed, round);
}

TEST_F(VariantRandom, FrameworkToComAndBack) {
    const unsigned seed = seedToUse() ^ 0x5a5a5a5au;
    SCOPED_TRACE("seed " + std::to_string(seed) + " (ORV_VARIANT_SEED, the other test's seed xor 0x5a5a5a5a)");
    Counted object;
    Generator gen(seed, &object);
    auto api = std::make_shared<Api>();
    const auto start = std::chrono::steady_clock::now();
    int round = 0;
    for (; round < kRounds && std::chrono::steady_clock::now() - start < kTimeLimit; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const variant value = randomValue(gen, api, 0);
        const std::string before = describe(value);
        std::string first, second;
        for (std::string* answer : {&first, &second}) {
            VARIANT out;
            try {
                host->getComVariant(&out, value);
                *answer = std::to_string(V_VT(&out)) + "|" + describe(host->getVariant(&out));
            } catch (const FB::script_error& e) {
                *answer = std::string("script error: ") + e.what();
            } catch (const std::exception& e) {
                ADD_FAILURE() << before << ": " << e.what();
            }
            VariantClear(&out);
        }
        ASSERT_EQ(first, second) << before;
        ASSERT_EQ(describe(value), before);
    }
    EXPECT_GE(round, 500) << "too few rounds in the time";
    std::printf("seed %u: %d values converted\n", seed, round);
}

} // namespace
