// The IDispatchEx bridge and the host's VARIANT conversions in process, against a small
// scriptable object: the DISPID map's standard names, every kind of VARIANT a caller can
// send (by value and by reference, broken strings included), unknown and fabricated
// DISPIDs, wrong flags and argument counts, and an object that has gone away.

#include "ActiveXBrowserHost.h"
#include "COMJavascriptObject.h"
#include "CountingDispatch.h"
#include "DispIdMap.h"
#include "IDispatchAPI.h"
#include "JSAPIAuto.h"
#include "JSExceptions.h"
#include "MethodConverter.h"
#include "ScriptHost.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <mshtmdid.h>
#include <oleauto.h>
#include <olectl.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using FB::variant;
using FB::ActiveX::ActiveXBrowserHost;

class Counter : public FB::JSAPIAuto {
public:
    Counter() {
        registerMethod("add", FB::make_method(this, &Counter::add));
        registerMethod("fail", FB::make_method(this, &Counter::fail));
        registerAttribute("label", variant(std::string("counter")), false);
        registerEvent("onchange");
    }
    int add(int a, int b) { return a + b; }
    int fail() { throw FB::script_error("it failed on purpose"); }
};

// One BSTR, freed with the test.
struct Bstr {
    explicit Bstr(const std::wstring& s) : p(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~Bstr() { SysFreeString(p); }
    BSTR p;
};

class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        host = std::make_shared<ActiveXBrowserHost>(nullptr, nullptr);
        api = std::make_shared<Counter>();
        disp = FB::ActiveX::createCOMJSObject(host, api, false);
        ASSERT_NE(disp, nullptr);
    }
    void TearDown() override {
        if (disp) {
            EXPECT_EQ(disp->Release(), 0u);
        }
        host->shutdown();
        CoUninitialize();
    }

    DISPID idOf(const wchar_t* name) {
        Bstr text(name);
        DISPID id = 0;
        EXPECT_EQ(disp->GetDispID(text.p, 0, &id), S_OK) << std::string(name, name + wcslen(name));
        return id;
    }

    // obj.method(args) with the arguments in COM order (last first).
    HRESULT call(DISPID id, std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* info = nullptr,
                 WORD flags = DISPATCH_METHOD) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        return disp->InvokeEx(id, 0, flags, &params, result, info, nullptr);
    }

    std::shared_ptr<ActiveXBrowserHost> host;
    std::shared_ptr<Counter> api;
    IDispatchEx* disp = nullptr;
};

VARIANT i4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}

TEST(DispIdMap, SeededWithTheStandardNames) {
    FB::ActiveX::DispIdMap& map = FB::ActiveX::dispIdMap();
    EXPECT_EQ(FB::ActiveX::seededDispIdCount(), 109u);
    struct Row {
        long id;
        const char* name;
    };
    for (const Row& r : {Row{0, "value"}, Row{-1, "toString"}, Row{-3, "propertyput"}, Row{-4, "newenum"},
                         Row{-5, "evaluate"}, Row{-6, "constructor"}, Row{-7, "destructor"}, Row{-8, "collect"},
                         Row{-514, "enabled"}, Row{-525, "readystate"}, Row{-613, "this"},
                         Row{-5511, "securityctx"}, Row{-727, "ambient_charsetidforvalue"},
                         Row{-5514, "securitydomain"}}) {
        EXPECT_EQ(map.getValueForId<std::string>(r.id), r.name);
        EXPECT_EQ(map.getValueForId<std::wstring>(r.id), std::wstring(r.name, r.name + strlen(r.name)));
    }
    // A seeded narrow name is not the wide name script asks for: that gets its own id.
    EXPECT_GE(map.getIdForValue(variant(std::wstring(L"value"))), 100);
    EXPECT_THROW(map.setIdForValue(0, variant(std::string("other"))), std::runtime_error);
    EXPECT_THROW(map.setIdForValue(5000000, variant(std::string("value"))), std::runtime_error);
    EXPECT_THROW(map.getValueForId<std::string>(-424242), std::out_of_range);

    FB::TypeIDMap<long> fresh(100);
    EXPECT_EQ(fresh.getIdForValue(variant(std::wstring(L"first"))), 100);
    EXPECT_EQ(fresh.getIdForValue(variant(std::wstring(L"second"))), 101);
    EXPECT_EQ(fresh.getIdForValue(variant(std::wstring(L"first"))), 100);
}

TEST_F(Bridge, NamesAndIds) {
    // The event methods exist on any object. Any other name is a page's own attribute
    // until set: it reads as undefined.
    DISPID attach = idOf(L"attachEvent");
    Bstr unknown(L"noSuchMember");
    DISPID id = 0;
    EXPECT_EQ(disp->GetDispID(unknown.p, 0, &id), S_OK);
    VARIANT nothing;
    VariantInit(&nothing);
    EXPECT_EQ(call(id, {}, &nothing, nullptr, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(V_VT(&nothing), VT_EMPTY);
    EXPECT_EQ(disp->GetDispID(unknown.p, 0, nullptr), E_POINTER);
    // The same name has the same id in every object.
    auto otherApi = std::make_shared<Counter>();
    IDispatchEx* other = FB::ActiveX::createCOMJSObject(host, otherApi, false);
    DISPID otherAdd = 0;
    Bstr add(L"add");
    EXPECT_EQ(other->GetDispID(add.p, 0, &otherAdd), S_OK);
    EXPECT_EQ(otherAdd, idOf(L"add"));
    other->Release();

    BSTR name = nullptr;
    EXPECT_EQ(disp->GetMemberName(attach, &name), S_OK);
    EXPECT_STREQ(name, L"attachEvent");
    SysFreeString(name);
    EXPECT_EQ(disp->GetMemberName(DISPID_VALUE, &name), S_OK);
    EXPECT_STREQ(name, L"value");
    SysFreeString(name);
    EXPECT_EQ(disp->GetMemberName(-424242, &name), DISP_E_UNKNOWNNAME);

    // GetIDsOfNames stops at the first failure; those before it stay filled.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"add"), const_cast<LPOLESTR>(L"nope"), const_cast<LPOLESTR>(L"label")};
    DISPID ids[3] = {7, 7, 7};
    api->setReserved("nope");
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], otherAdd);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(ids[2], 7);
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 0, 0, ids), S_OK);
    UINT count = 5;
    EXPECT_EQ(disp->GetTypeInfoCount(&count), E_NOTIMPL);

    // The walk: the object's members in its order, then the two event methods.
    std::vector<std::string> expected;
    api->getMemberNames(expected);
    expected.push_back("attachEvent");
    expected.push_back("detachEvent");
    std::vector<std::string> walked;
    DISPID at = DISPID_STARTENUM;
    while (disp->GetNextDispID(fdexEnumAll, at, &at) == S_OK && walked.size() < 100) {
        BSTR n = nullptr;
        ASSERT_EQ(disp->GetMemberName(at, &n), S_OK);
        walked.emplace_back(n, n + SysStringLen(n));
        SysFreeString(n);
    }
    EXPECT_EQ(walked, expected);
}

TEST_F(Bridge, CallsPropertiesAndTheirErrors) {
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(call(idOf(L"add"), {i4(2), i4(40)}, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 42);

    // Too few arguments and a failing method: script exceptions with the framework's text.
    struct Failing {
        const wchar_t* name;
        std::vector<VARIANT> args;
    };
    for (Failing& f : std::vector<Failing>{{L"add", {i4(1)}}, {L"fail", {}}, {L"attachEvent", {i4(1)}}}) {
        EXCEPINFO info = {};
        EXPECT_EQ(call(idOf(f.name), f.args, &result, &info), DISP_E_EXCEPTION);
        EXPECT_STREQ(info.bstrSource, L"application/x-orvanta");
        ASSERT_NE(info.bstrDescription, nullptr);
        EXPECT_GT(SysStringLen(info.bstrDescription), 0u);
        EXPECT_EQ(info.scode, E_NOTIMPL);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
    }
    EXCEPINFO info = {};
    EXPECT_EQ(call(idOf(L"fail"), {}, &result, &info), DISP_E_EXCEPTION);
    EXPECT_STREQ(info.bstrDescription, L"it failed on purpose");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    // Without EXCEPINFO the error still comes back.
    EXPECT_EQ(call(idOf(L"fail"), {}, &result, nullptr), DISP_E_EXCEPTION);

    // Unknown, fabricated ids and flags that name no operation.
    EXPECT_EQ(call(4242424, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(idOf(L"add"), {}, &result, nullptr, 0), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(idOf(L"add"), {}, &result, nullptr, DISPATCH_CONSTRUCT), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(idOf(L"label"), {}, &result, nullptr, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(idOf(L"label"), {}, nullptr, nullptr, DISPATCH_PROPERTYGET), E_INVALIDARG);
    // A put without a value is refused, not read past the array.
    EXPECT_EQ(call(idOf(L"label"), {}, nullptr, nullptr, DISPATCH_PROPERTYPUT), DISP_E_EXCEPTION);
    DISPPARAMS noArray = {nullptr, nullptr, 3, 0};
    EXPECT_EQ(disp->InvokeEx(idOf(L"add"), 0, DISPATCH_METHOD, &noArray, &result, nullptr, nullptr), DISP_E_EXCEPTION);

    // Property get and put; a method read as a property is its function object.
    Bstr text(L"renamed");
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text.p;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS putParams = {&value, &put, 1, 1};
    EXPECT_EQ(disp->InvokeEx(idOf(L"label"), 0, DISPATCH_PROPERTYPUT, &putParams, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(api->GetProperty("label").convert_cast<std::string>(), "renamed");
    ASSERT_EQ(call(idOf(L"add"), {}, &result, nullptr, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(V_VT(&result), VT_DISPATCH);
    VariantClear(&result);

    // The standard properties.
    ASSERT_EQ(call(DISPID_READYSTATE, {}, &result, nullptr, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(V_I4(&result), 1);  // a plain object never becomes ready
    ASSERT_EQ(call(DISPID_ENABLED, {}, &result, nullptr, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
    EXPECT_EQ(call(DISPID_SECURITYCTX, {}, &result, nullptr, DISPATCH_PROPERTYGET), E_NOTIMPL);

    // Null to an event property removes the page's handler.
    VARIANT null;
    VariantInit(&null);
    V_VT(&null) = VT_NULL;
    DISPPARAMS nullParams = {&null, &put, 1, 1};
    EXPECT_EQ(disp->InvokeEx(idOf(L"onchange"), 0, DISPATCH_PROPERTYPUT, &nullParams, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(api->getDefaultEventMethod("onchange"), nullptr);
}

TEST_F(Bridge, ObjectGoneAndHostShutDown) {
    DISPID add = idOf(L"add");
    api.reset();
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(call(add, {i4(1), i4(2)}, &result), DISP_E_MEMBERNOTFOUND);
    Bstr name(L"add");
    DISPID id = 0;
    EXPECT_EQ(disp->GetDispID(name.p, 0, &id), DISP_E_UNKNOWNNAME);
    DISPID next = 0;
    EXPECT_EQ(disp->GetNextDispID(fdexEnumAll, DISPID_STARTENUM, &next), S_FALSE);

    host->shutdown();
    EXPECT_FALSE(host->ScheduleAsyncCall([](void*) {}, nullptr));
    try {
        host->evaluateJavaScript(std::string("1"));
        ADD_FAILURE() << "no exception";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(e.what(), "Can't execute JavaScript: Window is NULL");
    }
}

// Every kind of VARIANT a caller can hand over, by value and by reference.
TEST_F(Bridge, VariantsOfEveryType) {
    auto check = [&](VARIANT v, const std::type_info& type, const char* text) {
        variant got = host->getVariant(&v);
        EXPECT_EQ(got.get_type(), type) << V_VT(&v);
        if (text && !got.empty() && !got.is_null()) {
            EXPECT_EQ(got.convert_cast<std::string>(), text) << V_VT(&v);
        }
    };
    VARIANT v;
    struct Simple {
        VARTYPE vt;
        LONGLONG bits;
        const std::type_info& type;
        const char* text;
    };
    const Simple simple[] = {
        {VT_EMPTY, 0, typeid(FB::variant_detail::empty), nullptr},
        {VT_NULL, 0, typeid(FB::variant_detail::null), nullptr},
        {VT_I2, -5, typeid(int), "-5"},
        {VT_I4, -70000, typeid(int), "-70000"},
        {VT_I1, -3, typeid(int), "-3"},
        {VT_UI1, 200, typeid(int), "200"},
        {VT_UI2, 60000, typeid(int), "60000"},
        {VT_INT, 7, typeid(int), "7"},
        {VT_UI4, 4000000000LL, typeid(unsigned int), "4000000000"},
        {VT_UINT, 9, typeid(unsigned int), "9"},
        {VT_I8, -9000000000LL, typeid(long long), "-9000000000"},
        {VT_UI8, 9000000000LL, typeid(unsigned long long), "9000000000"},
        {VT_ERROR, 0, typeid(bool), nullptr},
        {VT_CY, 0, typeid(FB::variant_detail::empty), nullptr},
        {VT_DATE, 0, typeid(FB::variant_detail::empty), nullptr},
        {VT_UNKNOWN, 0, typeid(FB::variant_detail::empty), nullptr},
        {VT_HRESULT, 0, typeid(FB::variant_detail::empty), nullptr},
    };
    for (const Simple& s : simple) {
        VariantInit(&v);
        V_VT(&v) = s.vt;
        V_I8(&v) = s.bits;
        if (s.vt == VT_I4)
            V_I4(&v) = static_cast<LONG>(s.bits);
        if (s.vt == VT_I2)
            V_I2(&v) = static_cast<SHORT>(s.bits);
        if (s.vt == VT_I1)
            V_I1(&v) = static_cast<CHAR>(s.bits);
        if (s.vt == VT_UI1)
            V_UI1(&v) = static_cast<BYTE>(s.bits);
        if (s.vt == VT_UI2)
            V_UI2(&v) = static_cast<USHORT>(s.bits);
        if (s.vt == VT_INT)
            V_INT(&v) = static_cast<INT>(s.bits);
        if (s.vt == VT_UI4)
            V_UI4(&v) = static_cast<ULONG>(s.bits);
        if (s.vt == VT_UINT)
            V_UINT(&v) = static_cast<UINT>(s.bits);
        if (s.vt == VT_UNKNOWN)
            V_UNKNOWN(&v) = nullptr;
        check(v, s.type, s.text);
    }
    VariantInit(&v);
    V_VT(&v) = VT_R4;
    V_R4(&v) = 1.5f;
    EXPECT_EQ(host->getVariant(&v).convert_cast<double>(), 1.5);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    EXPECT_TRUE(host->getVariant(&v).cast<bool>());
    DECIMAL dec = {};
    VarDecFromR8(2.25, &dec);
    V_DECIMAL(&v) = dec;
    V_VT(&v) = VT_DECIMAL;
    EXPECT_EQ(host->getVariant(&v).cast<double>(), 2.25);

    // Strings: embedded zeros kept, a lone surrogate replaced, not trusted.
    const wchar_t withZero[] = {L'a', 0, L'b'};
    Bstr zero(std::wstring(withZero, 3));
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = zero.p;
    EXPECT_EQ(host->getVariant(&v).cast<std::string>(), std::string("a\0b", 3));
    const wchar_t broken[] = {L'x', 0xD800, L'y'};
    Bstr lone(std::wstring(broken, 3));
    V_BSTR(&v) = lone.p;
    std::string readBack = host->getVariant(&v).cast<std::string>();
    EXPECT_EQ(readBack.front(), 'x');
    EXPECT_EQ(readBack.back(), 'y');
    V_BSTR(&v) = nullptr;
    EXPECT_EQ(host->getVariant(&v).cast<std::string>(), "");

    // By reference: the value behind the reference.
    LONG number = 77;
    V_VT(&v) = VT_BYREF | VT_I4;
    V_I4REF(&v) = &number;
    EXPECT_EQ(host->getVariant(&v).cast<int>(), 77);
    BSTR refText = zero.p;
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = &refText;
    EXPECT_EQ(host->getVariant(&v).cast<std::string>(), std::string("a\0b", 3));
    VARIANT inner = i4(5);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = &inner;
    EXPECT_EQ(host->getVariant(&v).cast<int>(), 5);
    V_VT(&v) = VT_BYREF | VT_I4;
    V_I4REF(&v) = nullptr;
    EXPECT_TRUE(host->getVariant(&v).empty());
    // Arrays have no script form here.
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
    V_VT(&v) = VT_ARRAY | VT_I4;
    V_ARRAY(&v) = array;
    EXPECT_TRUE(host->getVariant(&v).empty());
    SafeArrayDestroy(array);
    EXPECT_TRUE(host->getVariant(nullptr).empty());

    // Each such value as an argument: a clear refusal or a result, never a crash.
    for (VARTYPE vt : std::vector<VARTYPE>{VT_EMPTY, VT_NULL, VT_DATE, VT_CY, VT_BYREF | VT_I4}) {
        VARIANT arg;
        VariantInit(&arg);
        V_VT(&arg) = vt;
        if (vt == (VT_BYREF | VT_I4))
            V_I4REF(&arg) = &number;
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = call(idOf(L"add"), {arg, i4(1)}, &result);
        EXPECT_TRUE(hr == S_OK || hr == DISP_E_EXCEPTION) << vt;
        VariantClear(&result);
    }
}

TEST_F(Bridge, ValuesToComVariants) {
    struct Row {
        variant value;
        VARTYPE vt;
        const wchar_t* text;  // as VT_BSTR
    };
    const Row rows[] = {
        {variant(true), VT_BOOL, L"-1"},
        {variant('a'), VT_I1, L"97"},
        {variant(static_cast<unsigned char>(200)), VT_UI1, L"200"},
        {variant(static_cast<short>(-2)), VT_I2, L"-2"},
        {variant(static_cast<unsigned short>(60000)), VT_UI2, L"60000"},
        {variant(-7), VT_I4, L"-7"},
        {variant(7u), VT_UI4, L"7"},
        {variant(-8L), VT_I4, L"-8"},
        {variant(8UL), VT_UI4, L"8"},
        {variant(-9000000000LL), VT_I8, L"-9000000000"},
        {variant(9000000000ULL), VT_UI8, L"9000000000"},
        {variant(1.5f), VT_R4, L"1.5"},
        {variant(2.5), VT_R8, L"2.5"},
        {variant(std::string("\xD0\x96 text")), VT_BSTR, L"\x0416 text"},
        {variant(std::wstring(L"wide")), VT_BSTR, L"wide"},
        {variant(), VT_EMPTY, nullptr},
        {variant(FB::variant_detail::null()), VT_NULL, nullptr},
        {variant(std::vector<int>{1}), VT_EMPTY, nullptr},
    };
    for (const Row& r : rows) {
        VARIANT out;
        host->getComVariant(&out, r.value);
        EXPECT_EQ(V_VT(&out), r.vt) << r.value.get_type().name();
        if (r.text) {
            VARIANT asText;
            VariantInit(&asText);
            ASSERT_EQ(VariantChangeType(&asText, &out, 0, VT_BSTR), S_OK);
            EXPECT_EQ(std::wstring(V_BSTR(&asText)), r.text);
            VariantClear(&asText);
        }
        VariantClear(&out);
    }
    // Zero characters go out to the page as they came in from it.
    for (const std::string& text : {std::string("a\0b\0", 4), std::string("\0", 1)}) {
        VARIANT zeros;
        host->getComVariant(&zeros, variant(text));
        ASSERT_EQ(V_VT(&zeros), VT_BSTR);
        EXPECT_EQ(std::wstring(V_BSTR(&zeros), SysStringLen(V_BSTR(&zeros))), std::wstring(text.begin(), text.end()));
        EXPECT_EQ(host->getVariant(&zeros).cast<std::string>(), text);
        VariantClear(&zeros);
    }
    // A plug-in object goes out as its COM wrapper and comes back as itself.
    VARIANT out;
    host->getComVariant(&out, variant(FB::JSAPIPtr(api)));
    ASSERT_EQ(V_VT(&out), VT_DISPATCH);
    variant back = host->getVariant(&out);
    auto wrapper = back.cast<FB::JSObjectPtr>();
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->getJSAPI(), api);
    EXPECT_EQ(wrapper->Invoke("add", FB::VariantList{variant(1), variant(2)}).convert_cast<int>(), 3);
    VariantClear(&out);
    // An expired object is null; a list without a page window cannot be made.
    host->getComVariant(&out, variant(FB::JSAPIWeakPtr()));
    EXPECT_EQ(V_VT(&out), VT_NULL);
    EXPECT_THROW(host->getComVariant(&out, variant(FB::VariantList{variant(1)})), FB::script_error);
}

// On a page with a window, lists and maps reach script as the page's own arrays and objects,
// nested ones and empty ones included.
TEST_F(Bridge, ListsAndMapsBecomeThePagesArraysAndObjects) {
    orv::test::ScriptHost script;
    ASSERT_TRUE(script.started());
    IWebBrowser2* browser = script.makeBrowser();
    ASSERT_NE(browser, nullptr);
    auto pageHost = std::make_shared<ActiveXBrowserHost>(browser, nullptr);
    browser->Release();
    ASSERT_NE(pageHost->getDOMWindow(), nullptr);

    struct Row {
        const wchar_t* name;
        variant value;
        const wchar_t* probe;
        const char* expected;
    };
    const FB::VariantMap inner{{"k", variant(std::string("v"))}};
    const Row rows[] = {
        {L"list", variant(FB::VariantList{variant(1), variant(std::string("two")), variant(inner), variant(FB::VariantList{})}),
         L"(list instanceof Array) + '|' + list.length + '|' + list[0] + '|' + list[1] + '|' + list[2].k + '|' + list[3].length",
         "true|4|1|two|v|0"},
        {L"empty", variant(FB::VariantList{}), L"(empty instanceof Array) + '|' + empty.length", "true|0"},
        {L"map", variant(FB::VariantMap{{"a", variant(1)}, {"b c", variant(std::string("x"))}, {"in", variant(inner)}}),
         L"typeof map + '|' + map.a + '|' + map['b c'] + '|' + map['in'].k", "object|1|x|v"},
    };
    for (const Row& r : rows) {
        VARIANT out;
        pageHost->getComVariant(&out, r.value);
        ASSERT_EQ(V_VT(&out), VT_DISPATCH);
        ASSERT_TRUE(script.addItem(r.name, V_DISPATCH(&out)));
        VariantClear(&out);
        EXPECT_EQ(script.eval(r.probe).text(), r.expected);
    }
    pageHost->shutdown();
}

// A page object's wrapper dropped on another thread gives its reference back on the main
// thread only, at the host's next deferred release (here: its shutdown).
TEST_F(Bridge, ReferencesAreGivenBackOnTheMainThread) {
    orv::test::CountingDispatch page;
    FB::JSObjectPtr wrapper = FB::ActiveX::IDispatchAPI::create(&page, host);
    EXPECT_EQ(page.refs, 2);
    EXPECT_FALSE(wrapper->HasProperty("anything"));
    std::thread([&wrapper] { wrapper.reset(); }).join();
    EXPECT_EQ(page.refs, 2);
    host->shutdown();
    EXPECT_EQ(page.refs, 1);
    EXPECT_EQ(page.releaseThread, GetCurrentThreadId());
}

// A call still queued at shutdown runs then; one it tries to queue is refused, not waited on.
TEST_F(Bridge, ShutdownRunsQueuedCallsThatScheduleMore) {
    struct Probe {
        ActiveXBrowserHost* host;
        int ran = 0;
        int innerAccepted = -1;
    } probe{host.get()};
    ASSERT_TRUE(host->ScheduleAsyncCall(
        [](void* data) {
            auto* p = static_cast<Probe*>(data);
            ++p->ran;
            p->innerAccepted = p->host->ScheduleAsyncCall([](void*) {}, nullptr) ? 1 : 0;
        },
        &probe));
    host->shutdown();
    EXPECT_EQ(probe.ran, 1);
    EXPECT_EQ(probe.innerAccepted, 0);
}

// Plug-in code using page objects of Windows' JScript engine through IDispatchAPI.
TEST_F(Bridge, ScriptObjectsSeenThroughIDispatchAPI) {
    orv::test::ScriptHost script;
    ASSERT_TRUE(script.started());
    ASSERT_TRUE(script.run(L"var page = { label: 'x', count: 3, scale: function (k) { return this.count * k; } };"
                           L"function whoIsThis() { return this === whoIsThis; }"));
    orv::test::ScriptResult page = script.eval(L"page");
    ASSERT_EQ(V_VT(&page.value), VT_DISPATCH);
    FB::JSObjectPtr obj = host->getVariant(&page.value).cast<FB::JSObjectPtr>();
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->getJSAPI(), nullptr);  // a page object, not one of ours

    std::vector<std::string> names;
    obj->getMemberNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"label", "count", "scale"}));
    EXPECT_EQ(obj->getMemberCount(), 3u);
    EXPECT_TRUE(obj->HasProperty("label"));
    // A function member is readable, so the narrow test calls it a property; the wide one
    // knows the name.
    EXPECT_TRUE(obj->HasMethod(std::wstring(L"scale")));
    EXPECT_FALSE(obj->HasMethod("label"));
    EXPECT_EQ(obj->GetProperty("label").convert_cast<std::string>(), "x");
    obj->SetProperty("label", variant(std::string("y")));
    EXPECT_EQ(script.eval(L"page.label").text(), "y");
    obj->SetProperty("count", variant(5));
    EXPECT_EQ(obj->Invoke("scale", FB::VariantList{variant(2)}).convert_cast<int>(), 10);
    try {
        obj->Invoke("label", FB::VariantList{});
        ADD_FAILURE() << "no exception";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(e.what(), "Method invoke failed");
    }

    // A function called from the plug-in gets itself as this.
    orv::test::ScriptResult fn = script.eval(L"whoIsThis");
    FB::JSObjectPtr function = host->getVariant(&fn.value).cast<FB::JSObjectPtr>();
    EXPECT_EQ(function->Invoke("", FB::VariantList{}).convert_cast<bool>(), true);

    // A host that has gone: nothing reaches the page any more.
    host->shutdown();
    EXPECT_FALSE(obj->HasProperty("label"));
    EXPECT_TRUE(obj->GetProperty("label").empty());
    EXPECT_TRUE(obj->Invoke("scale", FB::VariantList{variant(2)}).empty());
}

// Events run on the main thread through its messages: pumped until the page saw `count`
// of them or a while has passed.
bool pumpUntil(orv::test::ScriptHost& script, const wchar_t* countExpression, double count) {
    const DWORD end = GetTickCount() + 3000;
    MSG msg;
    while (script.eval(countExpression).number() < count && static_cast<LONG>(end - GetTickCount()) > 0) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(5);
    }
    return script.eval(countExpression).number() == count;
}

void pumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    MSG msg;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(5);
    }
}

// A page handler attached with attachEvent is called with the event's arguments; once
// detached it is not called again.
TEST_F(Bridge, AttachedPageHandlerReceivesTheEvent) {
    orv::test::ScriptHost script;
    ASSERT_TRUE(script.started());
    ASSERT_TRUE(script.addItem(L"plugin", disp));
    ASSERT_TRUE(script.run(L"var seen = []; function changed(v, w) { seen.push(v + ':' + w); }"));
    ASSERT_TRUE(script.eval(L"plugin.attachEvent('onchange', changed), true").isTrue());
    api->FireEvent("onchange", FB::VariantList{variant(5), variant(std::string("x"))});
    ASSERT_TRUE(pumpUntil(script, L"seen.length", 1));
    EXPECT_EQ(script.eval(L"seen.join('|')").text(), "5:x");

    ASSERT_TRUE(script.eval(L"plugin.detachEvent('onchange', changed), true").isTrue());
    api->FireEvent("onchange", FB::VariantList{variant(6), variant(std::string("y"))});
    pumpFor(200);
    EXPECT_EQ(script.eval(L"seen.join('|')").text(), "5:x");
}

// A sink connected through the connection point has the event's method called by name;
// after Unadvise it hears nothing more.
TEST_F(Bridge, ConnectedSinkReceivesTheEventByName) {
    orv::test::ScriptHost script;
    ASSERT_TRUE(script.started());
    ASSERT_TRUE(script.run(L"var sink = { got: [], onchange: function (v) { sink.got.push(v); } };"));
    orv::test::ScriptResult sink = script.eval(L"sink");
    ASSERT_EQ(V_VT(&sink.value), VT_DISPATCH);
    IConnectionPointContainer* points = nullptr;
    ASSERT_EQ(disp->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)), S_OK);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(points->FindConnectionPoint(FB::ActiveX::DIID_IFBComEventSource, &point), S_OK);
    points->Release();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(V_DISPATCH(&sink.value), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);

    api->FireEvent("onchange", FB::VariantList{variant(7)});
    ASSERT_TRUE(pumpUntil(script, L"sink.got.length", 1));
    EXPECT_EQ(script.eval(L"sink.got.join('|')").text(), "7");

    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    api->FireEvent("onchange", FB::VariantList{variant(8)});
    pumpFor(200);
    EXPECT_EQ(script.eval(L"sink.got.join('|')").text(), "7");
    point->Release();
}

} // namespace
