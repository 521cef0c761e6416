#include "ProbeAPI.h"

#include "BrowserHost.h"
#include "BrowserStream.h"
#include "DownloadSink.h"
#include "JSExceptions.h"
#include "JSObject.h"
#include "ProbeCore.h"
#include "variant.h"

#include <string>
#include <utility>

namespace orv { namespace probe {

namespace {

const char* typeName(const FB::variant& v) {
    if (v.empty())
        return "undefined";
    if (v.is_null())
        return "null";
    if (v.is_of_type<bool>())
        return "bool";
    if (v.is_of_type<int>() || v.is_of_type<long>())
        return "int";
    if (v.is_of_type<double>())
        return "double";
    if (v.is_of_type<std::string>())
        return "string";
    if (v.is_of_type<std::wstring>())
        return "wstring";
    if (v.is_of_type<FB::JSObjectPtr>())
        return "object";
    if (v.is_of_type<FB::JSAPIPtr>() || v.is_of_type<FB::JSAPIWeakPtr>())
        return "plugin object";
    return v.get_type().name();
}

FB::JSObjectPtr function(const FB::VariantList& args, std::size_t i) {
    if (args.size() <= i)
        throw FB::invalid_arguments("a page function is needed");
    FB::JSObjectPtr f = args[i].convert_cast<FB::JSObjectPtr>();
    if (!f)
        throw FB::invalid_arguments("a page function is needed");
    return f;
}

} // namespace

ProbeAPI::ProbeAPI(const std::shared_ptr<ProbeCore>& core, const FB::BrowserHostPtr& host)
    : FB::JSAPIAuto("<orvanta probe>"), m_core(core), m_host(host) {
    registerMethod("echo", [](const FB::VariantList& args) { return args.empty() ? FB::variant() : args[0]; });
    registerMethod("typeOf", [](const FB::VariantList& args) {
        return FB::variant(std::string(typeName(args.empty() ? FB::variant() : args[0])));
    });
    registerMethod("sumArray", [](const FB::VariantList& args) {
        double sum = 0;
        for (const FB::variant& item : args.at(0).convert_cast<FB::VariantList>())
            sum += item.convert_cast<double>();
        return FB::variant(sum);
    });
    registerMethod("keysOf", [](const FB::VariantList& args) {
        FB::VariantList keys;
        for (const auto& entry : args.at(0).convert_cast<FB::VariantMap>())
            keys.push_back(entry.first);
        return FB::variant(keys);
    });
    registerMethod("mapOf", [](const FB::VariantList& args) {
        return FB::variant(args.at(0).convert_cast<FB::VariantMap>());
    });
    registerMethod("callBack", [](const FB::VariantList& args) {
        return function(args, 0)->Invoke("", FB::VariantList(args.begin() + 1, args.end()));
    });
    registerMethod("callMethod", [](const FB::VariantList& args) {
        FB::JSObjectPtr object = function(args, 0);
        return object->Invoke(args.at(1).convert_cast<std::string>(), FB::VariantList(args.begin() + 2, args.end()));
    });
    registerMethod("callLater", [this](const FB::VariantList& args) { return callLater(args); });
    registerMethod("fireParam", [this](const FB::VariantList& args) { return fireParam(args); });
    registerMethod("download", [this](const FB::VariantList& args) { return download(args); });
    registerMethod("openDownloads", [this](const FB::VariantList&) {
        return FB::variant(static_cast<long>(m_downloads.size()));
    });
}

ProbeAPI::~ProbeAPI() {
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
}

FB::variant ProbeAPI::callLater(const FB::VariantList& args) {
    FB::JSObjectPtr f = function(args, 0);
    FB::BrowserHostPtr host = m_host.lock();
    if (!host)
        throw FB::script_error("The plugin is invalid");
    std::weak_ptr<FB::BrowserHost> weakHost = host;
    m_workers.emplace_back([f, weakHost] {
        FB::BrowserHostPtr host = weakHost.lock();
        if (!host)
            return;
        const bool inWorker = !host->isMainThread();
        try {
            FB::variant answer = host->CallOnMainThread([&] {
                return f->Invoke("", FB::VariantList{std::string("sync"), host->isMainThread(), inWorker});
            });
            std::weak_ptr<FB::BrowserHost> later = host;
            host->ScheduleOnMainThread(f, [f, answer, later] {
                if (FB::BrowserHostPtr h = later.lock())
                    f->Invoke("", FB::VariantList{std::string("async"), answer, h->isMainThread()});
            });
        } catch (const std::exception&) {
            // The page went away while the worker waited.
        }
    });
    return true;
}

FB::variant ProbeAPI::fireParam(const FB::VariantList& args) {
    std::shared_ptr<ProbeCore> core = m_core.lock();
    if (!core)
        throw FB::script_error("The plugin is invalid");
    const std::string name = args.at(0).convert_cast<std::string>();
    const FB::VariantMap& params = core->getParams();
    auto param = params.find(name);
    if (param == params.end())
        return FB::variant();
    if (param->second.is_of_type<FB::JSObjectPtr>())
        return param->second.cast<FB::JSObjectPtr>()->Invoke(
            "", FB::VariantList{args.size() > 1 ? args[1] : FB::variant()});
    return std::string("text:") + param->second.convert_cast<std::string>();
}

FB::variant ProbeAPI::download(const FB::VariantList& args) {
    const std::string url = args.at(0).convert_cast<std::string>();
    FB::JSObjectPtr callback = function(args, 1);
    const long bufferSize = args.size() > 2 && !args[2].empty() ? args[2].convert_cast<long>() : 4096;
    const long closeAfter = args.size() > 3 && !args[3].empty() ? args[3].convert_cast<long>() : -1;
    const bool cache = args.size() > 4 && !args[4].empty() && args[4].convert_cast<bool>();
    if (bufferSize < 0)
        throw FB::invalid_arguments("the buffer size cannot be negative");
    FB::BrowserHostPtr host = m_host.lock();
    if (!host)
        throw FB::script_error("The plugin is invalid");
    // The stream keeps its observers weakly: this object keeps the sink until it reports
    // (the stream holds it for the length of that call).
    auto sink = std::make_shared<DownloadSink>(url, closeAfter, [this, callback](DownloadSink& done,
                                                                                const FB::VariantMap& report) {
        m_downloads.erase(done.shared_from_this());
        callback->InvokeAsync("", FB::VariantList{report});
    });
    m_downloads.insert(sink);
    FB::BrowserStreamPtr stream = host->createStream(url, sink, cache, false, static_cast<std::size_t>(bufferSize));
    if (!stream) {
        m_downloads.erase(sink);
        return false;
    }
    return true;
}

}} // namespace orv::probe
