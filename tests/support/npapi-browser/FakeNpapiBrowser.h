#pragma once
// A browser's side of NPAPI for tests: a function table of its own (any version and size),
// identifiers, memory, reference-counted NPObjects with a scripted page of its own
// (window, document, element, arrays, objects, functions), thread hand-over run when the
// test says, and a record of the calls the plug-in makes. It checks what a real browser
// would only crash on: a release of an object that is not alive, a free of memory it did
// not allocate, memory or objects left behind.
//
// One browser at a time: the table's functions find it through a process-wide pointer.

#include "npfunctions.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orv { namespace test {

// An object of the scripted page: plain properties, methods, and optionally callable
// itself (a page function).
struct PageObject : NPObject {
    using Method = std::function<bool(const std::vector<NPVariant>& args, NPVariant* result)>;

    std::string label;
    std::map<std::string, NPVariant> properties;  // owned: strings and references are the object's
    std::map<std::string, Method> methods;
    Method call;
};

class FakeNpapiBrowser {
public:
    // The table's size as a browser of that version hands it out.
    static constexpr uint16_t kVersion26Size =
        static_cast<uint16_t>(offsetof(NPNetscapeFuncs, urlredirectresponse) + sizeof(void*));

    // version: the table's version; size: its size (entries beyond it are filled with a
    // poison value that must never be copied).
    explicit FakeNpapiBrowser(uint16_t version = 26, uint16_t size = kVersion26Size);
    // Ends both instances (as a browser frees every object of an instance) and fails the
    // test when browser memory is still allocated.
    ~FakeNpapiBrowser();
    FakeNpapiBrowser(const FakeNpapiBrowser&) = delete;
    FakeNpapiBrowser& operator=(const FakeNpapiBrowser&) = delete;

    NPNetscapeFuncs* table() { return &m_table; }
    // Two instances, each with its own page.
    NPP instance(int which = 0) { return &m_instances[which]; }

    PageObject* window(int which = 0) { return m_windows[which]; }
    PageObject* document(int which = 0) { return m_documents[which]; }
    // The plug-in's element; withElement(false) makes the browser give none.
    PageObject* element(int which = 0) { return m_elements[which]; }
    void withElement(bool give) { m_giveElement = give; }
    void withWindow(bool give) { m_giveWindow = give; }
    // The page's address: the window gets a "location" object whose "href" is it, as a
    // browser's window has (a page without one has no location).
    void withLocation(const std::string& href, int which = 0);
    // The browser's own window handle, answered to NPNVnetscapeWindow (none: not answered).
    void withNetscapeWindow(void* handle) { m_netscapeWindow = handle; }

    // New page objects with one reference, the caller's (release with ReleaseObject).
    PageObject* newObject(NPP npp, const std::string& label = "object");
    PageObject* newArray(NPP npp);
    PageObject* newFunction(NPP npp, PageObject::Method call);

    // A property of a page object, as a copy the caller releases.
    NPVariant property(PageObject* obj, const std::string& name);
    // Replaces a property; the value is copied (strings) or retained (objects).
    void setProperty(PageObject* obj, const std::string& name, const NPVariant& value);

    // What NPN_Evaluate does with a script; unset: it fails.
    std::function<bool(const std::string& script, NPVariant* result)> evaluate;

    // NPN functions made to fail: "createobject" (null), "memalloc" (null),
    // "pluginthreadasynccall" (the call is dropped), "getvalue", "geturlnotify",
    // "destroystream", "requestread" (each NPERR_GENERIC_ERROR).
    void failing(const std::string& function, bool fail = true);

    // Told (on the calling thread, outside the browser's lock) after a call was queued with
    // NPN_PluginThreadAsyncCall: a host with a message loop wakes its main thread there.
    std::function<void()> asyncCallQueued;

    // The URLs asked for with NPN_GetURLNotify, in order.
    struct UrlRequest {
        NPP npp;
        std::string url;
        void* notifyData;
    };
    std::vector<UrlRequest> urlRequests() const;
    // Runs inside NPN_GetURLNotify and NPN_DestroyStream (before they answer), as a browser
    // that reports at once calls the plug-in back from inside them.
    std::function<void(const UrlRequest&)> onGetURLNotify;
    std::function<void(NPStream*, NPReason)> onDestroyStream;
    // The ranges of each NPN_RequestRead, as "offset+length" joined by ",".
    std::vector<std::string> readRequests() const;
    // What NPN_Write answers (-1: every byte).
    int32_t writeAnswer = -1;

    // Calls queued with NPN_PluginThreadAsyncCall, run here on the calling thread.
    size_t runPendingCalls();
    size_t pendingCalls() const;

    // Every NPN call made, in order, as "name" or "name:detail" (invoke:push, getproperty:x).
    std::vector<std::string> calls() const;
    // The calls (as above) and identifier requests made on another thread than the one
    // that made the browser, its main thread; NPN_PluginThreadAsyncCall is left out, the
    // one call any thread may make.
    std::vector<std::string> offMainThreadCalls() const;
    int callCount(const std::string& call) const;
    void clearCalls();

    struct Exception {
        NPObject* object;
        std::string message;
    };
    std::vector<Exception> exceptions() const;

    bool isAlive(const NPObject* obj) const;
    uint32_t refCount(const NPObject* obj) const;  // 0 when not alive
    // Objects alive of a class (null: every class) and of an instance (null: every one).
    size_t aliveObjects(const NPClass* cls = nullptr, NPP npp = nullptr) const;
    size_t allocatedBlocks() const;

    // As a browser ends an instance: frees every object of it, whatever its count.
    void destroyInstance(NPP npp);

    // Identifiers the plug-in would get from the browser: they live as long as the browser.
    NPIdentifier stringId(const std::string& name);
    NPIdentifier intId(int32_t value);

    // Identifiers as a browser that runs plug-ins in a process of their own hands them to
    // a callback: each lives for that one call. callIdentifier gives one for name (the
    // lasting one when there is one); endCall frees them all, and the next call's
    // identifiers take the same addresses in the same order. A plug-in that asks
    // NPN_GetStringIdentifier for a name that has a call identifier gets that identifier
    // made lasting, as such a browser does, or, after keepCallIdentifiersApart(), a lasting
    // one at another address. Any use of a freed identifier fails the test.
    NPIdentifier callIdentifier(const std::string& name);
    void endCall();
    void keepCallIdentifiersApart(bool apart = true) { m_callIdentifiersApart = apart; }

    // Browser memory holding a copy of the text (what a page string arrives as).
    NPVariant stringVariant(const std::string& text);

    // What NPN_ReleaseVariantValue does.
    void releaseValue(NPVariant& value);

    static FakeNpapiBrowser& current();

private:
    friend struct FakeNpapiBrowserCalls;
    struct Identifier {
        bool isString;
        std::string text;
        int32_t number;
        bool alive = true;
    };
    struct ObjectRecord {
        NPP npp;
        uint32_t refs;
    };

    void record(const std::string& call);
    NPObject* create(NPP npp, NPClass* cls);
    void retain(NPObject* obj);
    void release(NPObject* obj);
    void freeObject(NPObject* obj);
    void* alloc(uint32_t size);
    void free(void* ptr);
    NPVariant copyOut(const NPVariant& value);  // a copy the receiver owns
    std::string identifierText(NPIdentifier id) const;
    // The identifier behind id; a freed one fails the test.
    static const Identifier* usable(NPIdentifier id);
    void makePage(int which);

    NPNetscapeFuncs m_table;
    NPP_t m_instances[2];
    PageObject* m_windows[2] = {};
    PageObject* m_documents[2] = {};
    PageObject* m_elements[2] = {};
    bool m_giveElement = true;
    bool m_giveWindow = true;
    void* m_netscapeWindow = nullptr;
    bool m_tearingDown = false;

    mutable std::recursive_mutex m_mutex;
    std::map<std::string, std::unique_ptr<Identifier>> m_stringIds;
    std::map<int32_t, std::unique_ptr<Identifier>> m_intIds;
    std::vector<std::unique_ptr<Identifier>> m_callIds;  // reused in order, call after call
    size_t m_callIdsInUse = 0;
    bool m_callIdentifiersApart = false;
    std::map<const NPObject*, ObjectRecord> m_objects;
    std::set<void*> m_blocks;
    std::set<std::string> m_failing;
    std::vector<std::string> m_calls;
    std::vector<std::string> m_offMainThreadCalls;
    std::thread::id m_mainThread = std::this_thread::get_id();
    std::vector<Exception> m_exceptions;
    std::vector<std::pair<void (*)(void*), void*>> m_pending;
    std::vector<UrlRequest> m_urlRequests;
    std::vector<std::string> m_readRequests;
};

// One URL's transfer as a browser delivers it to a plug-in's table: the NPStream it owns
// and the order of the stream entries.
class BrowserStreamFeed {
public:
    // notifyData: what the plug-in gave with its request; end: the total length (0 unknown).
    BrowserStreamFeed(const NPPluginFuncs& funcs, NPP npp, const std::string& url, void* notifyData,
                      uint32_t end = 0, const char* headers = nullptr);

    // NPP_NewStream; the stream type the plug-in chose lands in type.
    NPError start(const char* mimeType = "text/plain", bool seekable = false);
    // data at offset as a browser offers it: NPP_WriteReady, then NPP_Write with at most
    // that much, again for the rest, until all is taken. The number of bytes taken, or the
    // first negative answer. maxRounds guards against a plug-in that takes nothing.
    int32_t deliver(const std::string& data, int32_t offset, int maxRounds = 1000);
    NPError destroy(NPReason reason);
    // NPP_URLNotify with the notify data of the request, or, with notifyDataFromStream, the
    // one the stream holds at that moment (as Firefox-family browsers take it).
    void notify(NPReason reason);
    bool notifyDataFromStream = false;

    NPStream stream;
    uint16_t type = NP_NORMAL;
    std::vector<int32_t> writeSizes;  // the length offered in each NPP_Write

private:
    const NPPluginFuncs& m_funcs;
    NPP m_npp;
    std::string m_url;
    void* m_notifyData;
};

// An NPVariant the test owns, released through the browser when it goes.
class BrowserValue {
public:
    BrowserValue() { VOID_TO_NPVARIANT(value); }
    ~BrowserValue();
    BrowserValue(const BrowserValue&) = delete;
    BrowserValue& operator=(const BrowserValue&) = delete;

    NPVariant* get() { return &value; }
    NPVariant value;
};

}} // namespace orv::test
