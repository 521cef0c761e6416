#pragma once
// The published NPAPI structures as laid out on x86-64 Linux (the only Unix target).
// QtWebKit 5.212 offers a browser table of 448 bytes and takes a plug-in table of 160.

static_assert(sizeof(void*) == 8, "the Linux plug-in is built for x86-64 only");

namespace np_expected {

constexpr Layout kLayout = {
    /* NPObject, NPClass, .construct */ 16, 104, 96,
    /* NPVariant, .value, NPString */ 24, 8, 16,
    /* NPWindow (with ws_info), .clipRect, .type */ 48, 24, 40,
    /* NPStream, .end, .notifyData, .headers */ 48, 24, 32, 40,
    /* NPPluginFuncs, .getvalue, end of .getsiteswithdata */ 168, 104, 160,
    /* NPNetscapeFuncs, .getJavaEnv, .geturlnotify, .setexception */ 472, 104, 120, 320,
    /* .enumerate, .pluginthreadasynccall, .scheduletimer, end of .urlredirectresponse */ 344, 352, 392, 448};

} // namespace np_expected

static_assert(offsetof(NPWindow, ws_info) == 32, "NPWindow.ws_info");
