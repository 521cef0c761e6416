#pragma once
// The published NPAPI structures as Windows compilers lay them out: i686 (the shipped
// DLL; a double inside a structure is 8-aligned there) and x86-64.

namespace np_expected {

constexpr Layout kI686 = {
    /* NPObject, NPClass, .construct */ 8, 52, 48,
    /* NPVariant, .value, NPString */ 16, 8, 8,
    /* NPWindow, .clipRect, .type */ 32, 20, 28,
    /* NPStream, .end, .notifyData, .headers */ 28, 12, 20, 24,
    /* NPPluginFuncs, .getvalue, end of .getsiteswithdata */ 84, 52, 80,
    /* NPNetscapeFuncs, .getJavaEnv, .geturlnotify, .setexception */ 236, 52, 60, 160,
    /* .enumerate, .pluginthreadasynccall, .scheduletimer, end of .urlredirectresponse */ 172, 176, 196, 224};

constexpr Layout kX86_64 = {
    16, 104, 96,
    24, 8, 16,
    40, 24, 32,
    48, 24, 32, 40,
    168, 104, 160,
    472, 104, 120, 320,
    344, 352, 392, 448};

constexpr Layout kLayout = sizeof(void*) == 4 ? kI686 : kX86_64;

} // namespace np_expected

static_assert(sizeof(NPEvent) == (sizeof(void*) == 4 ? 12 : 24), "NPEvent");
static_assert(offsetof(NPEvent, wParam) == sizeof(void*), "NPEvent.wParam");
