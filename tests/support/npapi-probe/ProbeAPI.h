#pragma once
// The probe's root object: members that let page script check the framework from the
// other side of the NPAPI bridge.
//   echo(x)                 x back, through both conversions
//   typeOf(x)               the C++ type x arrived as ("double", "string", "object", ...)
//   sumArray(a)             a script array read as a VariantList, its numbers added
//   keysOf(o)               a script object read as a VariantMap: its keys, in map order
//   mapOf(o)                the same VariantMap given back (a new script object)
//   callBack(f, args...)    the page function f called from C++ now, its result returned
//   callMethod(o, m, args...) method m of a page object called from C++
//   callLater(f)            a worker thread calls f on the main thread twice: first
//                           blocking ("sync", on main thread?, in worker?), then
//                           fire-and-forget ("async", what the first call returned, ...)
//   fireParam(name, value)  the "on..." param name: a page function is called with value
//                           and its result returned; otherwise "text:" and the param
//   download(url, callback, bufferSize, closeAfter, asFile)
//                           a stream of url (asFile: the browser also keeps it in a file);
//                           callback gets the DownloadSink's report once it completes;
//                           false when the browser refuses the request
//   openDownloads()         downloads not yet reported

#include "APITypes.h"
#include "JSAPIAuto.h"

#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace orv { namespace probe {

class ProbeCore;

class ProbeAPI : public FB::JSAPIAuto {
public:
    ProbeAPI(const std::shared_ptr<ProbeCore>& core, const FB::BrowserHostPtr& host);
    // Waits for the workers; a worker waiting for the main thread is let go by the host's
    // shutdown, which comes first.
    ~ProbeAPI() override;

private:
    FB::variant callLater(const FB::VariantList& args);
    FB::variant fireParam(const FB::VariantList& args);
    FB::variant download(const FB::VariantList& args);

    std::weak_ptr<ProbeCore> m_core;
    std::weak_ptr<FB::BrowserHost> m_host;
    std::vector<std::thread> m_workers;
    std::set<FB::PluginEventSinkPtr> m_downloads;
};

}} // namespace orv::probe
