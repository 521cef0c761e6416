// The host's conversions between the browser's NPVariant and the framework's variant.

#include "NpapiBrowserHost.h"

#include "JSExceptions.h"
#include "JSObject.h"
#include "NPJavascriptObject.h"
#include "NPObjectAPI.h"
#include "logging.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace FB { namespace Npapi {

namespace {

using Converter = void (*)(NpapiBrowserHost& host, const variant& var, NPVariant& out);

// Numbers that fit 32 bits: a value outside them raises the numeric overflow error
// rather than reaching the page changed.
void toInt32(NpapiBrowserHost&, const variant& var, NPVariant& out) {
    INT32_TO_NPVARIANT(static_cast<int32_t>(var.convert_cast<long>()), out);
}

void toDouble(NpapiBrowserHost&, const variant& var, NPVariant& out) {
    if (var.is_of_type<float>())
        DOUBLE_TO_NPVARIANT(static_cast<double>(var.cast<float>()), out);
    else
        DOUBLE_TO_NPVARIANT(var.cast<double>(), out);
}

void toBool(NpapiBrowserHost&, const variant& var, NPVariant& out) {
    BOOLEAN_TO_NPVARIANT(var.cast<bool>(), out);
}

// A copy in browser memory, with a terminating zero the length does not count. Text is
// passed on byte for byte, embedded zeros and all.
void toString(NpapiBrowserHost& host, const variant& var, NPVariant& out) {
    const std::string text = var.convert_cast<std::string>();
    if (text.size() >= UINT32_MAX)
        throw script_error("The text is too long for the browser");
    const uint32_t length = static_cast<uint32_t>(text.size());
    auto* copy = static_cast<NPUTF8*>(host.MemAlloc(length + 1));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, text.data(), length);
    copy[length] = '\0';
    STRINGN_TO_NPVARIANT(copy, length, out);
}

void toNull(NpapiBrowserHost&, const variant&, NPVariant& out) {
    NULL_TO_NPVARIANT(out);
}

void toVoid(NpapiBrowserHost&, const variant&, NPVariant& out) {
    VOID_TO_NPVARIANT(out);
}

// Objects cannot be handed to a browser whose instance has gone: every handle given out
// would name objects the browser has already let go of.
void requireLiveHost(const NpapiBrowserHost& host) {
    if (host.isShutDown())
        throw object_invalidated();
}

// A browser object handed back to the browser, with a reference for the receiver.
bool browserObject(NpapiBrowserHost& host, const JSAPIPtr& api, NPVariant& out) {
    auto wrapped = std::dynamic_pointer_cast<NPObjectAPI>(api);
    if (!wrapped)
        return false;
    NPObject* obj = wrapped->getNPObject();
    if (!obj) {
        NULL_TO_NPVARIANT(out);
        return true;
    }
    host.RetainObject(obj);
    OBJECT_TO_NPVARIANT(obj, out);
    return true;
}

void pluginObject(NpapiBrowserHost& host, const JSAPIPtr& api, bool autoRelease, NPVariant& out) {
    NPJavascriptObject* obj = NPJavascriptObject::NewObject(host.sharedHost(), api, autoRelease);
    OBJECT_TO_NPVARIANT(obj, out);
}

void fromAPI(NpapiBrowserHost& host, const variant& var, NPVariant& out) {
    requireLiveHost(host);
    const JSAPIPtr& api = var.cast<JSAPIPtr>();
    if (!api) {
        NULL_TO_NPVARIANT(out);
        return;
    }
    if (browserObject(host, api, out))
        return;
    // Kept alive by the host until the browser lets go of the wrapper.
    host.retainJSObject(api);
    try {
        pluginObject(host, api, true, out);
    } catch (...) {
        host.releaseJSObject(api);
        throw;
    }
}

void fromWeakAPI(NpapiBrowserHost& host, const variant& var, NPVariant& out) {
    requireLiveHost(host);
    JSAPIPtr api = var.cast<JSAPIWeakPtr>().lock();
    if (!api) {
        NULL_TO_NPVARIANT(out);
        return;
    }
    if (!browserObject(host, api, out))
        pluginObject(host, api, false, out);
}

void fromJSObject(NpapiBrowserHost& host, const variant& var, NPVariant& out) {
    requireLiveHost(host);
    JSAPIPtr api = var.cast<JSObjectPtr>();
    if (!api) {
        NULL_TO_NPVARIANT(out);
        return;
    }
    if (!browserObject(host, api, out))
        pluginObject(host, api, false, out);
}

// The page's own container, given to the browser with a reference for the receiver.
void handOutContainer(NpapiBrowserHost& host, const JSObjectPtr& container, NPVariant& out) {
    if (!browserObject(host, container, out))
        throw script_error("The page did not create the script object");
}

// The script containers are made by the page itself, so that it gets real arrays ("Array",
// filled with "push") and objects ("Object").
void fromList(NpapiBrowserHost& host, const variant& var, NPVariant& out) {
    requireLiveHost(host);
    const VariantList& list = var.cast<VariantList>();
    JSObjectPtr array = host.createScriptArray();
    if (!array)
        throw script_error("The page did not create the script object");
    for (const variant& item : list)
        array->Invoke("push", VariantList{item});
    handOutContainer(host, array, out);
}

void fromMap(NpapiBrowserHost& host, const variant& var, NPVariant& out) {
    requireLiveHost(host);
    const VariantMap& map = var.cast<VariantMap>();
    JSObjectPtr object = host.createScriptMap();
    if (!object)
        throw script_error("The page did not create the script object");
    for (const auto& entry : map)
        object->SetProperty(entry.first, entry.second);
    handOutContainer(host, object, out);
}

template <typename T>
std::pair<std::type_index, Converter> row(Converter converter) {
    return {std::type_index(typeid(T)), converter};
}

const std::map<std::type_index, Converter>& conversionTable() {
    static const std::map<std::type_index, Converter> table = {
        row<bool>(&toBool),
        row<char>(&toInt32),
        row<unsigned char>(&toInt32),
        row<short>(&toInt32),
        row<unsigned short>(&toInt32),
        row<int>(&toInt32),
        row<unsigned int>(&toInt32),
        row<long>(&toInt32),
        row<unsigned long>(&toInt32),
        // Beyond what a script number holds exactly: passed as text.
        row<long long>(&toString),
        row<unsigned long long>(&toString),
        row<float>(&toDouble),
        row<double>(&toDouble),
        row<std::string>(&toString),
        row<std::wstring>(&toString),
        row<variant_detail::null>(&toNull),
        row<variant_detail::empty>(&toVoid),
        row<VariantList>(&fromList),
        row<VariantMap>(&fromMap),
        row<JSAPIPtr>(&fromAPI),
        row<JSAPIWeakPtr>(&fromWeakAPI),
        row<JSObjectPtr>(&fromJSObject),
    };
    return table;
}

// Found by the type_info's address first: the name comparisons of the ordered table cost
// more than the rest of a simple call's result. One cache per thread, so no lock; it holds
// only types of the table (each under the few addresses its type_info may have).
Converter findConverter(const std::type_info& type) {
    thread_local std::unordered_map<const std::type_info*, Converter> byAddress;
    auto known = byAddress.find(&type);
    if (known != byAddress.end())
        return known->second;
    const auto& table = conversionTable();
    auto found = table.find(std::type_index(type));
    if (found == table.end())
        return nullptr;
    byAddress.emplace(&type, found->second);
    return found->second;
}

} // namespace

variant NpapiBrowserHost::getVariant(const NPVariant* npVar) {
    if (!npVar)
        return variant();
    switch (npVar->type) {
    case NPVariantType_Void:
        return variant();
    case NPVariantType_Null:
        return variant(variant_detail::null());
    case NPVariantType_Bool: {
        // Read as a byte: a browser may store any non-zero value for true.
        unsigned char byte = 0;
        std::memcpy(&byte, &npVar->value.boolValue, 1);
        return variant(byte != 0);
    }
    case NPVariantType_Int32:
        return variant(static_cast<int32_t>(npVar->value.intValue));
    case NPVariantType_Double:
        return variant(npVar->value.doubleValue);
    case NPVariantType_String: {
        const NPString& s = npVar->value.stringValue;
        if (!s.UTF8Characters)
            return variant(std::string());
        return variant(std::string(s.UTF8Characters, s.UTF8Length));
    }
    case NPVariantType_Object:
        if (!npVar->value.objectValue)
            return variant(variant_detail::null());
        return variant(JSObjectPtr(std::make_shared<NPObjectAPI>(npVar->value.objectValue, sharedHost())));
    }
    throw script_error("Unknown script value type " + std::to_string(static_cast<int>(npVar->type)));
}

void NpapiBrowserHost::getNPVariant(NPVariant* dst, const variant& var) {
    const Converter converter = findConverter(var.get_type());
    if (!converter) {
        FBLOG_WARN("NpapiBrowserHost", "No script form for a value of type " << var.get_type().name());
        return;
    }
    // Written only once complete: a failed conversion leaves dst as it was.
    NPVariant out;
    VOID_TO_NPVARIANT(out);
    converter(*this, var, out);
    *dst = out;
}

}} // namespace FB::Npapi
