#pragma once
// FB::Npapi::NpapiPluginModule: the process-wide side of the NPAPI adapter. So far it
// keeps the browser's function table; the browser functions that take no instance
// (memory, identifiers, object references, exceptions) are called through it.

#include "npfunctions.h"

namespace FB { namespace Npapi {

class NpapiPluginModule {
public:
    NpapiPluginModule();
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

private:
    NPNetscapeFuncs m_npnFuncs;
};

}} // namespace FB::Npapi
