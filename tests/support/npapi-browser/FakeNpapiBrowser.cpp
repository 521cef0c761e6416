#include "FakeNpapiBrowser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace orv { namespace test {

namespace {

FakeNpapiBrowser* g_current = nullptr;

void poisonEntry() {
    ADD_FAILURE() << "the plug-in called a browser entry beyond the table's size";
}

} // namespace

// The page class and the table's functions, with access to the browser's insides.
struct FakeNpapiBrowserCalls {
    static FakeNpapiBrowser& b() { return FakeNpapiBrowser::current(); }
    static PageObject* page(NPObject* obj) { return static_cast<PageObject*>(obj); }

    // The page's own objects.
    static NPObject* pageAllocate(NPP, NPClass*) { return new PageObject(); }
    static void pageDeallocate(NPObject* obj) {
        PageObject* p = page(obj);
        for (auto& property : p->properties)
            b().releaseValue(property.second);
        delete p;
    }
    static void pageInvalidate(NPObject*) {}
    static const PageObject::Method* callableProperty(PageObject* p, const std::string& name) {
        auto property = p->properties.find(name);
        if (property == p->properties.end() || property->second.type != NPVariantType_Object)
            return nullptr;
        NPObject* value = property->second.value.objectValue;
        if (value->_class != &pageClass || !page(value)->call)
            return nullptr;
        return &page(value)->call;
    }
    static bool pageHasMethod(NPObject* obj, NPIdentifier id) {
        const std::string name = b().identifierText(id);
        return page(obj)->methods.count(name) != 0 || callableProperty(page(obj), name) != nullptr;
    }
    static bool pageInvoke(NPObject* obj, NPIdentifier id, const NPVariant* args, uint32_t count, NPVariant* result) {
        const std::string name = b().identifierText(id);
        std::vector<NPVariant> list(args, args + count);
        auto method = page(obj)->methods.find(name);
        if (method != page(obj)->methods.end())
            return method->second(list, result);
        if (const PageObject::Method* call = callableProperty(page(obj), name))
            return (*call)(list, result);
        return false;
    }
    static bool pageInvokeDefault(NPObject* obj, const NPVariant* args, uint32_t count, NPVariant* result) {
        if (!page(obj)->call)
            return false;
        return page(obj)->call(std::vector<NPVariant>(args, args + count), result);
    }
    static bool pageHasProperty(NPObject* obj, NPIdentifier id) {
        return page(obj)->properties.count(b().identifierText(id)) != 0;
    }
    static bool pageGetProperty(NPObject* obj, NPIdentifier id, NPVariant* result) {
        auto property = page(obj)->properties.find(b().identifierText(id));
        if (property == page(obj)->properties.end())
            VOID_TO_NPVARIANT(*result);
        else
            *result = b().copyOut(property->second);
        return true;
    }
    static bool pageSetProperty(NPObject* obj, NPIdentifier id, const NPVariant* value) {
        b().setProperty(page(obj), b().identifierText(id), *value);
        return true;
    }
    static bool pageRemoveProperty(NPObject* obj, NPIdentifier id) {
        auto property = page(obj)->properties.find(b().identifierText(id));
        if (property == page(obj)->properties.end())
            return false;
        b().releaseValue(property->second);
        page(obj)->properties.erase(property);
        return true;
    }
    static bool pageEnumerate(NPObject* obj, NPIdentifier** ids, uint32_t* count) {
        const auto& properties = page(obj)->properties;
        *count = static_cast<uint32_t>(properties.size());
        *ids = static_cast<NPIdentifier*>(b().alloc(static_cast<uint32_t>(sizeof(NPIdentifier) * (*count + 1))));
        uint32_t i = 0;
        for (const auto& property : properties)
            (*ids)[i++] = b().stringId(property.first);
        return true;
    }
    static bool pageConstruct(NPObject*, const NPVariant*, uint32_t, NPVariant*) { return false; }

    static NPClass pageClass;

    // The browser's table.
    static NPError getURL(NPP, const char* url, const char*) {
        b().record(std::string("geturl:") + url);
        return NPERR_NO_ERROR;
    }
    static NPError postURL(NPP, const char* url, const char*, uint32_t, const char*, NPBool) {
        b().record(std::string("posturl:") + url);
        return NPERR_NO_ERROR;
    }
    static NPError requestRead(NPStream*, NPByteRange* ranges) {
        b().record("requestread");
        std::string text;
        for (NPByteRange* range = ranges; range; range = range->next)
            text += (text.empty() ? "" : ",") + std::to_string(range->offset) + "+" + std::to_string(range->length);
        {
            std::lock_guard<std::recursive_mutex> lock(b().m_mutex);
            b().m_readRequests.push_back(text);
        }
        return b().m_failing.count("requestread") ? NPERR_GENERIC_ERROR : NPERR_NO_ERROR;
    }
    static NPError newStream(NPP, NPMIMEType, const char*, NPStream**) {
        b().record("newstream");
        return NPERR_NO_ERROR;
    }
    static int32_t write(NPP, NPStream*, int32_t len, void*) {
        b().record("write:" + std::to_string(len));
        return b().writeAnswer < 0 ? len : b().writeAnswer;
    }
    static NPError destroyStream(NPP, NPStream* stream, NPReason reason) {
        b().record("destroystream:" + std::to_string(reason));
        if (b().m_failing.count("destroystream"))
            return NPERR_GENERIC_ERROR;
        if (b().onDestroyStream)
            b().onDestroyStream(stream, reason);
        return NPERR_NO_ERROR;
    }
    static void status(NPP, const char* message) { b().record(std::string("status:") + message); }
    static const char* userAgent(NPP) {
        b().record("uagent");
        return "FakeNpapiBrowser/26";
    }
    static void* memAlloc(uint32_t size) { return b().m_failing.count("memalloc") ? nullptr : b().alloc(size); }
    static void memFree(void* ptr) { b().free(ptr); }
    static uint32_t memFlush(uint32_t) { return 0; }
    static void reloadPlugins(NPBool) { b().record("reloadplugins"); }
    static NPError getURLNotify(NPP npp, const char* url, const char*, void* notifyData) {
        b().record(std::string("geturlnotify:") + url);
        if (b().m_failing.count("geturlnotify"))
            return NPERR_GENERIC_ERROR;
        const FakeNpapiBrowser::UrlRequest request{npp, url, notifyData};
        {
            std::lock_guard<std::recursive_mutex> lock(b().m_mutex);
            b().m_urlRequests.push_back(request);
        }
        if (b().onGetURLNotify)
            b().onGetURLNotify(request);
        return NPERR_NO_ERROR;
    }
    static NPError postURLNotify(NPP, const char* url, const char*, uint32_t, const char*, NPBool, void*) {
        b().record(std::string("posturlnotify:") + url);
        return NPERR_NO_ERROR;
    }
    static NPError getValue(NPP npp, NPNVariable variable, void* value) {
        FakeNpapiBrowser& fb = b();
        fb.record("getvalue:" + std::to_string(static_cast<int>(variable)));
        if (fb.m_failing.count("getvalue"))
            return NPERR_GENERIC_ERROR;
        if (variable == NPNVnetscapeWindow) {
            if (!fb.m_netscapeWindow)
                return NPERR_GENERIC_ERROR;
            *static_cast<void**>(value) = fb.m_netscapeWindow;
            return NPERR_NO_ERROR;
        }
        const int which = npp == fb.instance(1) ? 1 : 0;
        PageObject* answer = nullptr;
        if (variable == NPNVWindowNPObject && fb.m_giveWindow)
            answer = fb.m_windows[which];
        else if (variable == NPNVPluginElementNPObject && fb.m_giveElement)
            answer = fb.m_elements[which];
        if (!answer)
            return NPERR_GENERIC_ERROR;
        fb.retain(answer);
        *static_cast<NPObject**>(value) = answer;
        return NPERR_NO_ERROR;
    }
    static NPError setValue(NPP, NPPVariable variable, void*) {
        b().record("setvalue:" + std::to_string(static_cast<int>(variable)));
        return NPERR_NO_ERROR;
    }
    static void invalidateRect(NPP, NPRect* rect) {
        b().record("invalidaterect:" + std::to_string(rect ? rect->right : 0) + "x" +
                   std::to_string(rect ? rect->bottom : 0));
    }
    static void invalidateRegion(NPP, NPRegion) { b().record("invalidateregion"); }
    static void forceRedraw(NPP) { b().record("forceredraw"); }
    // Identifier requests are not in the record of calls; only the thread they came on is.
    static void onMainThreadOnly(const char* call) {
        FakeNpapiBrowser& fb = b();
        if (std::this_thread::get_id() == fb.m_mainThread)
            return;
        std::lock_guard<std::recursive_mutex> lock(fb.m_mutex);
        fb.m_offMainThreadCalls.push_back(call);
    }
    static NPIdentifier getStringIdentifier(const NPUTF8* name) {
        onMainThreadOnly("getstringidentifier");
        return b().stringId(name ? name : "");
    }
    static void getStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) {
        onMainThreadOnly("getstringidentifiers");
        for (int32_t i = 0; i < count; ++i)
            ids[i] = b().stringId(names[i]);
    }
    static NPIdentifier getIntIdentifier(int32_t value) {
        onMainThreadOnly("getintidentifier");
        return b().intId(value);
    }
    static bool identifierIsString(NPIdentifier id) {
        const FakeNpapiBrowser::Identifier* identifier = FakeNpapiBrowser::usable(id);
        return identifier && identifier->isString;
    }
    static NPUTF8* utf8FromIdentifier(NPIdentifier id) {
        const FakeNpapiBrowser::Identifier* identifier = FakeNpapiBrowser::usable(id);
        if (!identifier || !identifier->isString)
            return nullptr;
        auto* text = static_cast<NPUTF8*>(b().alloc(static_cast<uint32_t>(identifier->text.size() + 1)));
        std::memcpy(text, identifier->text.c_str(), identifier->text.size() + 1);
        return text;
    }
    static int32_t intFromIdentifier(NPIdentifier id) {
        const FakeNpapiBrowser::Identifier* identifier = FakeNpapiBrowser::usable(id);
        return identifier && !identifier->isString ? identifier->number : std::numeric_limits<int32_t>::min();
    }
    static NPObject* createObject(NPP npp, NPClass* cls) {
        b().record("createobject");
        if (b().m_failing.count("createobject"))
            return nullptr;
        return b().create(npp, cls);
    }
    static NPObject* retainObject(NPObject* obj) {
        b().retain(obj);
        return obj;
    }
    static void releaseObject(NPObject* obj) { b().release(obj); }
    static bool invoke(NPP, NPObject* obj, NPIdentifier id, const NPVariant* args, uint32_t count,
                       NPVariant* result) {
        b().record("invoke:" + b().identifierText(id));
        VOID_TO_NPVARIANT(*result);
        return obj && obj->_class->invoke && obj->_class->invoke(obj, id, args, count, result);
    }
    static bool invokeDefault(NPP, NPObject* obj, const NPVariant* args, uint32_t count, NPVariant* result) {
        b().record("invokedefault");
        VOID_TO_NPVARIANT(*result);
        return obj && obj->_class->invokeDefault && obj->_class->invokeDefault(obj, args, count, result);
    }
    static bool evaluate(NPP, NPObject*, NPString* script, NPVariant* result) {
        const std::string text(script->UTF8Characters, script->UTF8Length);
        b().record("evaluate:" + text);
        VOID_TO_NPVARIANT(*result);
        return b().evaluate && b().evaluate(text, result);
    }
    static bool getProperty(NPP, NPObject* obj, NPIdentifier id, NPVariant* result) {
        b().record("getproperty:" + b().identifierText(id));
        VOID_TO_NPVARIANT(*result);
        return obj && obj->_class->getProperty && obj->_class->getProperty(obj, id, result);
    }
    static bool setProperty(NPP, NPObject* obj, NPIdentifier id, const NPVariant* value) {
        b().record("setproperty:" + b().identifierText(id));
        return obj && obj->_class->setProperty && obj->_class->setProperty(obj, id, value);
    }
    static bool removeProperty(NPP, NPObject* obj, NPIdentifier id) {
        b().record("removeproperty:" + b().identifierText(id));
        return obj && obj->_class->removeProperty && obj->_class->removeProperty(obj, id);
    }
    static bool hasProperty(NPP, NPObject* obj, NPIdentifier id) {
        b().record("hasproperty:" + b().identifierText(id));
        return obj && obj->_class->hasProperty && obj->_class->hasProperty(obj, id);
    }
    static bool hasMethod(NPP, NPObject* obj, NPIdentifier id) {
        b().record("hasmethod:" + b().identifierText(id));
        return obj && obj->_class->hasMethod && obj->_class->hasMethod(obj, id);
    }
    static void releaseVariantValue(NPVariant* value) { b().releaseValue(*value); }
    static void setException(NPObject* obj, const NPUTF8* message) {
        b().record(std::string("setexception:") + message);
        std::lock_guard<std::recursive_mutex> lock(b().m_mutex);
        b().m_exceptions.push_back({obj, message});
    }
    static void pushPopupsEnabledState(NPP, NPBool) { b().record("pushpopupsenabledstate"); }
    static void popPopupsEnabledState(NPP) { b().record("poppopupsenabledstate"); }
    static bool enumerate(NPP, NPObject* obj, NPIdentifier** ids, uint32_t* count) {
        b().record("enumerate");
        return obj && NP_CLASS_STRUCT_VERSION_HAS_ENUM(obj->_class) && obj->_class->enumerate &&
               obj->_class->enumerate(obj, ids, count);
    }
    static void pluginThreadAsyncCall(NPP, void (*func)(void*), void* data) {
        FakeNpapiBrowser& fb = b();
        fb.record("pluginthreadasynccall");
        {
            std::lock_guard<std::recursive_mutex> lock(fb.m_mutex);
            if (fb.m_failing.count("pluginthreadasynccall"))
                return;
            fb.m_pending.emplace_back(func, data);
        }
        if (fb.asyncCallQueued)
            fb.asyncCallQueued();
    }
    static bool construct(NPP, NPObject*, const NPVariant*, uint32_t, NPVariant*) {
        b().record("construct");
        return false;
    }
    static uint32_t scheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
        b().record("scheduletimer");
        return 7;
    }
    static void unscheduleTimer(NPP, uint32_t id) { b().record("unscheduletimer:" + std::to_string(id)); }
};

NPClass FakeNpapiBrowserCalls::pageClass = {
    NP_CLASS_STRUCT_VERSION_CTOR,
    &FakeNpapiBrowserCalls::pageAllocate,
    &FakeNpapiBrowserCalls::pageDeallocate,
    &FakeNpapiBrowserCalls::pageInvalidate,
    &FakeNpapiBrowserCalls::pageHasMethod,
    &FakeNpapiBrowserCalls::pageInvoke,
    &FakeNpapiBrowserCalls::pageInvokeDefault,
    &FakeNpapiBrowserCalls::pageHasProperty,
    &FakeNpapiBrowserCalls::pageGetProperty,
    &FakeNpapiBrowserCalls::pageSetProperty,
    &FakeNpapiBrowserCalls::pageRemoveProperty,
    &FakeNpapiBrowserCalls::pageEnumerate,
    &FakeNpapiBrowserCalls::pageConstruct,
};

FakeNpapiBrowser::FakeNpapiBrowser(uint16_t version, uint16_t size) {
    if (g_current)
        ADD_FAILURE() << "two fake browsers at once";
    g_current = this;

    using C = FakeNpapiBrowserCalls;
    std::memset(&m_table, 0, sizeof(m_table));
    m_table.geturl = &C::getURL;
    m_table.posturl = &C::postURL;
    m_table.requestread = &C::requestRead;
    m_table.newstream = &C::newStream;
    m_table.write = &C::write;
    m_table.destroystream = &C::destroyStream;
    m_table.status = &C::status;
    m_table.uagent = &C::userAgent;
    m_table.memalloc = &C::memAlloc;
    m_table.memfree = &C::memFree;
    m_table.memflush = &C::memFlush;
    m_table.reloadplugins = &C::reloadPlugins;
    m_table.geturlnotify = &C::getURLNotify;
    m_table.posturlnotify = &C::postURLNotify;
    m_table.getvalue = &C::getValue;
    m_table.setvalue = &C::setValue;
    m_table.invalidaterect = &C::invalidateRect;
    m_table.invalidateregion = &C::invalidateRegion;
    m_table.forceredraw = &C::forceRedraw;
    m_table.getstringidentifier = &C::getStringIdentifier;
    m_table.getstringidentifiers = &C::getStringIdentifiers;
    m_table.getintidentifier = &C::getIntIdentifier;
    m_table.identifierisstring = &C::identifierIsString;
    m_table.utf8fromidentifier = &C::utf8FromIdentifier;
    m_table.intfromidentifier = &C::intFromIdentifier;
    m_table.createobject = &C::createObject;
    m_table.retainobject = &C::retainObject;
    m_table.releaseobject = &C::releaseObject;
    m_table.invoke = &C::invoke;
    m_table.invokeDefault = &C::invokeDefault;
    m_table.evaluate = &C::evaluate;
    m_table.getproperty = &C::getProperty;
    m_table.setproperty = &C::setProperty;
    m_table.removeproperty = &C::removeProperty;
    m_table.hasproperty = &C::hasProperty;
    m_table.hasmethod = &C::hasMethod;
    m_table.releasevariantvalue = &C::releaseVariantValue;
    m_table.setexception = &C::setException;
    m_table.pushpopupsenabledstate = &C::pushPopupsEnabledState;
    m_table.poppopupsenabledstate = &C::popPopupsEnabledState;
    m_table.enumerate = &C::enumerate;
    m_table.pluginthreadasynccall = &C::pluginThreadAsyncCall;
    m_table.construct = &C::construct;
    m_table.scheduletimer = &C::scheduleTimer;
    m_table.unscheduletimer = &C::unscheduleTimer;
    m_table.size = size;
    m_table.version = version;
    // Whatever lies past the browser's table is not a function of it.
    void (*poison)() = &poisonEntry;
    auto* bytes = reinterpret_cast<unsigned char*>(&m_table);
    for (size_t offset = offsetof(NPNetscapeFuncs, geturl); offset + sizeof(void*) <= sizeof(m_table);
         offset += sizeof(void*)) {
        if (offset + sizeof(void*) > size)
            std::memcpy(bytes + offset, &poison, sizeof(void*));
    }

    for (int which = 0; which < 2; ++which) {
        m_instances[which].pdata = nullptr;
        m_instances[which].ndata = this;
        makePage(which);
    }
}

FakeNpapiBrowser::~FakeNpapiBrowser() {
    destroyInstance(instance(0));
    destroyInstance(instance(1));
    if (!m_objects.empty())
        ADD_FAILURE() << m_objects.size() << " browser objects left alive";
    if (!m_blocks.empty())
        ADD_FAILURE() << m_blocks.size() << " blocks of browser memory never freed";
    for (void* block : m_blocks)
        std::free(block);
    g_current = nullptr;
}

FakeNpapiBrowser& FakeNpapiBrowser::current() {
    if (!g_current)
        throw std::logic_error("no fake browser");
    return *g_current;
}

void FakeNpapiBrowser::makePage(int which) {
    NPP npp = instance(which);
    PageObject* window = newObject(npp, "window");
    window->methods["Array"] = [this, npp](const std::vector<NPVariant>&, NPVariant* result) {
        OBJECT_TO_NPVARIANT(newArray(npp), *result);
        return true;
    };
    window->methods["Object"] = [this, npp](const std::vector<NPVariant>&, NPVariant* result) {
        OBJECT_TO_NPVARIANT(newObject(npp), *result);
        return true;
    };
    PageObject* document = newObject(npp, "document");
    NPVariant value;
    OBJECT_TO_NPVARIANT(document, value);
    setProperty(window, "document", value);
    m_windows[which] = window;
    m_documents[which] = document;
    m_elements[which] = newObject(npp, "element");
}

void FakeNpapiBrowser::withLocation(const std::string& href, int which) {
    PageObject* location = newObject(instance(which), "location");
    NPVariant text = stringVariant(href);
    setProperty(location, "href", text);
    releaseValue(text);
    NPVariant value;
    OBJECT_TO_NPVARIANT(location, value);
    setProperty(m_windows[which], "location", value);
    release(location);
}

PageObject* FakeNpapiBrowser::newObject(NPP npp, const std::string& label) {
    auto* obj = static_cast<PageObject*>(create(npp, &FakeNpapiBrowserCalls::pageClass));
    obj->label = label;
    return obj;
}

PageObject* FakeNpapiBrowser::newArray(NPP npp) {
    PageObject* array = newObject(npp, "array");
    NPVariant zero;
    DOUBLE_TO_NPVARIANT(0.0, zero);
    setProperty(array, "length", zero);
    array->methods["push"] = [this, array](const std::vector<NPVariant>& args, NPVariant* result) {
        double length = array->properties["length"].value.doubleValue;
        for (const NPVariant& arg : args) {
            setProperty(array, std::to_string(static_cast<long>(length)), arg);
            length += 1;
        }
        array->properties["length"].value.doubleValue = length;
        DOUBLE_TO_NPVARIANT(length, *result);
        return true;
    };
    return array;
}

PageObject* FakeNpapiBrowser::newFunction(NPP npp, PageObject::Method call) {
    PageObject* function = newObject(npp, "function");
    function->call = std::move(call);
    return function;
}

NPVariant FakeNpapiBrowser::property(PageObject* obj, const std::string& name) {
    auto found = obj->properties.find(name);
    if (found == obj->properties.end()) {
        NPVariant none;
        VOID_TO_NPVARIANT(none);
        return none;
    }
    return copyOut(found->second);
}

void FakeNpapiBrowser::setProperty(PageObject* obj, const std::string& name, const NPVariant& value) {
    NPVariant copy = copyOut(value);
    auto found = obj->properties.find(name);
    if (found != obj->properties.end()) {
        NPVariant old = found->second;
        found->second = copy;
        releaseValue(old);
    } else {
        obj->properties[name] = copy;
    }
}

void FakeNpapiBrowser::failing(const std::string& function, bool fail) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (fail)
        m_failing.insert(function);
    else
        m_failing.erase(function);
}

size_t FakeNpapiBrowser::runPendingCalls() {
    size_t ran = 0;
    for (;;) {
        std::pair<void (*)(void*), void*> call;
        {
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            if (m_pending.empty())
                return ran;
            call = m_pending.front();
            m_pending.erase(m_pending.begin());
        }
        call.first(call.second);
        ++ran;
    }
}

size_t FakeNpapiBrowser::pendingCalls() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_pending.size();
}

std::vector<std::string> FakeNpapiBrowser::calls() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_calls;
}

int FakeNpapiBrowser::callCount(const std::string& call) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    int n = 0;
    for (const std::string& c : m_calls)
        n += c == call ? 1 : 0;
    return n;
}

void FakeNpapiBrowser::clearCalls() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_calls.clear();
    m_exceptions.clear();
}

std::vector<FakeNpapiBrowser::Exception> FakeNpapiBrowser::exceptions() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_exceptions;
}

bool FakeNpapiBrowser::isAlive(const NPObject* obj) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_objects.count(obj) != 0;
}

uint32_t FakeNpapiBrowser::refCount(const NPObject* obj) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto found = m_objects.find(obj);
    return found == m_objects.end() ? 0 : found->second.refs;
}

size_t FakeNpapiBrowser::aliveObjects(const NPClass* cls, NPP npp) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    size_t n = 0;
    for (const auto& object : m_objects)
        if ((!cls || object.first->_class == cls) && (!npp || object.second.npp == npp))
            ++n;
    return n;
}

size_t FakeNpapiBrowser::allocatedBlocks() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_blocks.size();
}

void FakeNpapiBrowser::destroyInstance(NPP npp) {
    std::vector<const NPObject*> objects;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (const auto& object : m_objects)
            if (object.second.npp == npp)
                objects.push_back(object.first);
    }
    m_tearingDown = true;
    for (const NPObject* obj : objects)
        if (isAlive(obj))
            freeObject(const_cast<NPObject*>(obj));
    m_tearingDown = false;
}

NPIdentifier FakeNpapiBrowser::stringId(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto& id = m_stringIds[name];
    if (id)
        return id.get();
    for (size_t i = 0; i < m_callIdsInUse && !m_callIdentifiersApart; ++i) {
        if (m_callIds[i]->isString && m_callIds[i]->text == name) {
            // Made lasting where it is: its slot takes new storage for the calls to come.
            id = std::move(m_callIds[i]);
            m_callIds[i].reset(new Identifier{true, std::string(), 0, false});
            return id.get();
        }
    }
    id.reset(new Identifier{true, name, 0});
    return id.get();
}

NPIdentifier FakeNpapiBrowser::callIdentifier(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto lasting = m_stringIds.find(name);
    if (lasting != m_stringIds.end())
        return lasting->second.get();
    for (size_t i = 0; i < m_callIdsInUse; ++i)
        if (m_callIds[i]->alive && m_callIds[i]->text == name)
            return m_callIds[i].get();
    if (m_callIdsInUse == m_callIds.size())
        m_callIds.emplace_back(new Identifier{true, std::string(), 0, false});
    Identifier& id = *m_callIds[m_callIdsInUse++];
    id = Identifier{true, name, 0, true};
    return &id;
}

void FakeNpapiBrowser::endCall() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (size_t i = 0; i < m_callIdsInUse; ++i)
        *m_callIds[i] = Identifier{true, "<freed identifier>", 0, false};
    m_callIdsInUse = 0;
}

const FakeNpapiBrowser::Identifier* FakeNpapiBrowser::usable(NPIdentifier id) {
    auto* identifier = static_cast<const Identifier*>(id);
    if (identifier && !identifier->alive) {
        ADD_FAILURE() << "the plug-in used an identifier after the call it came with";
        return nullptr;
    }
    return identifier;
}

NPIdentifier FakeNpapiBrowser::intId(int32_t value) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto& id = m_intIds[value];
    if (!id)
        id.reset(new Identifier{false, std::string(), value});
    return id.get();
}

NPVariant FakeNpapiBrowser::stringVariant(const std::string& text) {
    auto* copy = static_cast<NPUTF8*>(alloc(static_cast<uint32_t>(text.size() + 1)));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    NPVariant value;
    STRINGN_TO_NPVARIANT(copy, text.size(), value);
    return value;
}

std::string FakeNpapiBrowser::identifierText(NPIdentifier id) const {
    const Identifier* identifier = usable(id);
    if (!identifier)
        return std::string();
    return identifier->isString ? identifier->text : std::to_string(identifier->number);
}

void FakeNpapiBrowser::record(const std::string& call) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_calls.push_back(call);
    if (std::this_thread::get_id() != m_mainThread && call != "pluginthreadasynccall")
        m_offMainThreadCalls.push_back(call);
}

std::vector<std::string> FakeNpapiBrowser::offMainThreadCalls() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_offMainThreadCalls;
}

NPObject* FakeNpapiBrowser::create(NPP npp, NPClass* cls) {
    NPObject* obj = cls->allocate ? cls->allocate(npp, cls) : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
    if (!obj)
        return nullptr;
    obj->_class = cls;
    obj->referenceCount = 1;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_objects[obj] = ObjectRecord{npp, 1};
    return obj;
}

void FakeNpapiBrowser::retain(NPObject* obj) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto found = m_objects.find(obj);
    if (found == m_objects.end()) {
        ADD_FAILURE() << "retain of an object that is not alive";
        return;
    }
    ++found->second.refs;
    ++obj->referenceCount;
}

void FakeNpapiBrowser::release(NPObject* obj) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto found = m_objects.find(obj);
        if (found == m_objects.end()) {
            if (!m_tearingDown)
                ADD_FAILURE() << "release of an object that is not alive";
            return;
        }
        --obj->referenceCount;
        if (--found->second.refs != 0)
            return;
    }
    freeObject(obj);
}

void FakeNpapiBrowser::freeObject(NPObject* obj) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_objects.erase(obj);
    }
    // Outside the lock: deallocation runs the plug-in's code, which may call back.
    if (obj->_class->deallocate)
        obj->_class->deallocate(obj);
    else
        std::free(obj);
}

void* FakeNpapiBrowser::alloc(uint32_t size) {
    void* block = std::malloc(size ? size : 1);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_blocks.insert(block);
    return block;
}

void FakeNpapiBrowser::free(void* ptr) {
    if (!ptr)
        return;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (!m_blocks.erase(ptr)) {
            ADD_FAILURE() << "free of memory the browser did not allocate";
            return;
        }
    }
    std::free(ptr);
}

NPVariant FakeNpapiBrowser::copyOut(const NPVariant& value) {
    NPVariant copy = value;
    if (value.type == NPVariantType_String) {
        const NPString& s = value.value.stringValue;
        auto* text = static_cast<NPUTF8*>(alloc(s.UTF8Length + 1));
        if (s.UTF8Length)
            std::memcpy(text, s.UTF8Characters, s.UTF8Length);
        text[s.UTF8Length] = '\0';
        copy.value.stringValue.UTF8Characters = text;
    } else if (value.type == NPVariantType_Object) {
        retain(value.value.objectValue);
    }
    return copy;
}

void FakeNpapiBrowser::releaseValue(NPVariant& value) {
    if (value.type == NPVariantType_String)
        free(const_cast<NPUTF8*>(value.value.stringValue.UTF8Characters));
    else if (value.type == NPVariantType_Object)
        release(value.value.objectValue);
    VOID_TO_NPVARIANT(value);
}

BrowserValue::~BrowserValue() {
    FakeNpapiBrowser::current().releaseValue(value);
}

}} // namespace orv::test

namespace orv { namespace test {

std::vector<FakeNpapiBrowser::UrlRequest> FakeNpapiBrowser::urlRequests() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_urlRequests;
}

std::vector<std::string> FakeNpapiBrowser::readRequests() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_readRequests;
}

BrowserStreamFeed::BrowserStreamFeed(const NPPluginFuncs& funcs, NPP npp, const std::string& url, void* notifyData,
                                     uint32_t end, const char* headers)
    : m_funcs(funcs), m_npp(npp), m_url(url), m_notifyData(notifyData) {
    std::memset(&stream, 0, sizeof(stream));
    stream.url = m_url.c_str();
    stream.end = end;
    stream.notifyData = notifyData;
    stream.headers = headers;
}

NPError BrowserStreamFeed::start(const char* mimeType, bool seekable) {
    type = NP_NORMAL;
    return m_funcs.newstream(m_npp, const_cast<char*>(mimeType), &stream, seekable, &type);
}

int32_t BrowserStreamFeed::deliver(const std::string& data, int32_t offset, int maxRounds) {
    int32_t taken = 0;
    std::string rest = data;
    for (int round = 0; round < maxRounds && !rest.empty(); ++round) {
        const int32_t ready = m_funcs.writeready(m_npp, &stream);
        if (ready < 0)
            return ready;
        const int32_t offered = std::min<int32_t>(ready, static_cast<int32_t>(rest.size()));
        if (offered == 0)
            continue;
        writeSizes.push_back(offered);
        const int32_t wrote = m_funcs.write(m_npp, &stream, offset + taken, offered, &rest[0]);
        if (wrote < 0)
            return wrote;
        taken += wrote;
        rest.erase(0, static_cast<size_t>(wrote));
    }
    return taken;
}

NPError BrowserStreamFeed::destroy(NPReason reason) {
    return m_funcs.destroystream(m_npp, &stream, reason);
}

void BrowserStreamFeed::notify(NPReason reason) {
    m_funcs.urlnotify(m_npp, m_url.c_str(), reason, notifyDataFromStream ? stream.notifyData : m_notifyData);
}

}} // namespace orv::test
