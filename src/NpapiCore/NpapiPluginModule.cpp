#include "NpapiPluginModule.h"

#include <cstddef>
#include <cstring>

namespace FB { namespace Npapi {

namespace {

// Browser tables carry the timer entries from this version on.
constexpr uint16_t kTimersVersion = 23;

// Whether the browser's table reaches to the end of the entry.
template <typename T>
bool inTable(const NPNetscapeFuncs* table, T NPNetscapeFuncs::*entry) {
    const std::size_t end = static_cast<std::size_t>(reinterpret_cast<const char*>(&(table->*entry)) -
                                                     reinterpret_cast<const char*>(table)) +
                            sizeof(T);
    return end <= table->size;
}

template <typename... T>
void copyEntries(const NPNetscapeFuncs* from, NPNetscapeFuncs& to, T NPNetscapeFuncs::*... entries) {
    ((to.*entries = inTable(from, entries) ? from->*entries : nullptr), ...);
}

} // namespace

NpapiPluginModule::NpapiPluginModule() {
    std::memset(&m_npnFuncs, 0, sizeof(m_npnFuncs));
}

NpapiPluginModule::~NpapiPluginModule() = default;

void NpapiPluginModule::setNetscapeFuncs(const NPNetscapeFuncs* funcs) {
    copyNetscapeFuncs(funcs, m_npnFuncs);
}

void NpapiPluginModule::copyNetscapeFuncs(const NPNetscapeFuncs* from, NPNetscapeFuncs& to) {
    std::memset(&to, 0, sizeof(to));
    if (!from)
        return;
    to.size = from->size;
    to.version = from->version;

    using F = NPNetscapeFuncs;
    // getJavaEnv and getJavaPeer are never used.
    copyEntries(from, to, &F::geturl, &F::posturl, &F::requestread, &F::newstream, &F::write, &F::destroystream,
                &F::status, &F::uagent, &F::memalloc, &F::memfree, &F::memflush, &F::reloadplugins);
    copyEntries(from, to, &F::geturlnotify, &F::posturlnotify, &F::getvalue, &F::setvalue, &F::invalidaterect,
                &F::invalidateregion, &F::forceredraw, &F::getstringidentifier, &F::getstringidentifiers,
                &F::getintidentifier, &F::identifierisstring, &F::utf8fromidentifier, &F::intfromidentifier,
                &F::createobject, &F::retainobject, &F::releaseobject, &F::invoke, &F::invokeDefault,
                &F::evaluate, &F::getproperty, &F::setproperty, &F::removeproperty, &F::hasproperty,
                &F::hasmethod, &F::releasevariantvalue, &F::setexception);
    if (from->version >= kTimersVersion)
        copyEntries(from, to, &F::scheduletimer, &F::unscheduletimer);
    if (from->version >= NPVERS_HAS_POPUPS_ENABLED_STATE)
        copyEntries(from, to, &F::pushpopupsenabledstate, &F::poppopupsenabledstate);
    if (from->version >= NPVERS_HAS_NPOBJECT_ENUM)
        copyEntries(from, to, &F::enumerate);
    // NPN_Construct follows the thread hand-over in the table; taken from the same version.
    if (from->version >= NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL)
        copyEntries(from, to, &F::pluginthreadasynccall, &F::construct);
}

}} // namespace FB::Npapi
