#pragma once
// FB::Npapi::NpapiPluginModule: the process-wide side of the NPAPI adapter. It keeps the
// browser's function table (the browser functions that take no instance - memory,
// identifiers, object references, exceptions - are called through it). The exported
// entry points make at most one (NpapiEntryPoints.h), and with it run the product's
// global initialisation, and its deinitialisation when NP_Shutdown deletes it.

#include "npfunctions.h"

namespace FB { namespace Npapi {

class NpapiPluginModule {
public:
    // init: whether the product's global initialisation ran for this module (and its
    // deinitialisation is due when the module goes).
    explicit NpapiPluginModule(bool init = false);
    bool runsGlobalInit() const { return m_init; }
    virtual ~NpapiPluginModule();
    NpapiPluginModule(const NpapiPluginModule&) = delete;
    NpapiPluginModule& operator=(const NpapiPluginModule&) = delete;

    // Keeps a copy of the browser's table (copyNetscapeFuncs).
    void setNetscapeFuncs(const NPNetscapeFuncs* funcs);
    const NPNetscapeFuncs& netscapeFuncs() const { return m_npnFuncs; }
    NPNetscapeFuncs& netscapeFuncs() { return m_npnFuncs; }

    // Copies the entries a browser of the table's version has. An entry that lies beyond
    // the table's own size stays null: an old browser's table simply ends earlier, and
    // what follows it in memory is not a function. A null table copies nothing.
    static void copyNetscapeFuncs(const NPNetscapeFuncs* from, NPNetscapeFuncs& to);

    // The module of the process (null before the first entry point and after shutdown).
    static NpapiPluginModule* Default;

private:
    NPNetscapeFuncs m_npnFuncs;
    bool m_init;
};

}} // namespace FB::Npapi
