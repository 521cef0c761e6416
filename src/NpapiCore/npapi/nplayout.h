#pragma once
// Compile-time check that the declarations match the published headers' layouts on this
// target. A browser reads these structures by offset: one wrong field moves every entry
// after it, and the plug-in would call the wrong browser function.

#include <cstddef>

namespace np_expected {

struct Layout {
    std::size_t objectSize, classSize, classConstruct;
    std::size_t variantSize, variantValue, stringSize;
    std::size_t windowSize, windowClipRect, windowType;
    std::size_t streamSize, streamEnd, streamNotifyData, streamHeaders;
    std::size_t pluginFuncsSize, pluginGetValue, pluginGetSitesWithDataEnd;
    std::size_t netscapeFuncsSize, netscapeGetJavaEnv, netscapeGetURLNotify, netscapeSetException;
    std::size_t netscapeEnumerate, netscapeThreadAsyncCall, netscapeScheduleTimer, netscapeRedirectResponseEnd;
};

} // namespace np_expected

#include "np_layout_expected.h"

namespace np_expected {

constexpr std::size_t kEntry = sizeof(void*);

static_assert(sizeof(NPObject) == kLayout.objectSize, "NPObject");
static_assert(offsetof(NPObject, referenceCount) == kEntry, "NPObject.referenceCount");

static_assert(sizeof(NPClass) == kLayout.classSize, "NPClass");
static_assert(offsetof(NPClass, allocate) == kEntry, "NPClass.allocate");
static_assert(offsetof(NPClass, construct) == kLayout.classConstruct, "NPClass.construct");

static_assert(sizeof(NPString) == kLayout.stringSize, "NPString");
static_assert(sizeof(NPVariant) == kLayout.variantSize, "NPVariant");
static_assert(offsetof(NPVariant, value) == kLayout.variantValue, "NPVariant.value");
static_assert(sizeof(NPVariantType) == 4, "NPVariantType");
static_assert(sizeof(bool) == 1, "NPVariant.value.boolValue");

static_assert(sizeof(NPWindow) == kLayout.windowSize, "NPWindow");
static_assert(offsetof(NPWindow, x) == kEntry, "NPWindow.x");
static_assert(offsetof(NPWindow, clipRect) == kLayout.windowClipRect, "NPWindow.clipRect");
static_assert(offsetof(NPWindow, type) == kLayout.windowType, "NPWindow.type");
static_assert(sizeof(NPRect) == 8, "NPRect");

static_assert(sizeof(NPStream) == kLayout.streamSize, "NPStream");
static_assert(offsetof(NPStream, url) == 2 * kEntry, "NPStream.url");
static_assert(offsetof(NPStream, end) == kLayout.streamEnd, "NPStream.end");
static_assert(offsetof(NPStream, notifyData) == kLayout.streamNotifyData, "NPStream.notifyData");
static_assert(offsetof(NPStream, headers) == kLayout.streamHeaders, "NPStream.headers");

static_assert(sizeof(NPP_t) == 2 * kEntry, "NPP_t");

static_assert(offsetof(NPPluginFuncs, version) == 2, "NPPluginFuncs.version");
static_assert(sizeof(NPPluginFuncs) == kLayout.pluginFuncsSize, "NPPluginFuncs");
static_assert(offsetof(NPPluginFuncs, getvalue) == kLayout.pluginGetValue, "NPPluginFuncs.getvalue");
static_assert(offsetof(NPPluginFuncs, didComposite) == kLayout.pluginGetSitesWithDataEnd,
              "NPPluginFuncs.getsiteswithdata ends where didComposite starts");

static_assert(offsetof(NPNetscapeFuncs, version) == 2, "NPNetscapeFuncs.version");
static_assert(sizeof(NPNetscapeFuncs) == kLayout.netscapeFuncsSize, "NPNetscapeFuncs");
static_assert(offsetof(NPNetscapeFuncs, geturl) == (kEntry > 4 ? kEntry : 4), "NPNetscapeFuncs.geturl");
static_assert(offsetof(NPNetscapeFuncs, getJavaEnv) == kLayout.netscapeGetJavaEnv, "NPNetscapeFuncs.getJavaEnv");
static_assert(offsetof(NPNetscapeFuncs, geturlnotify) == kLayout.netscapeGetURLNotify,
              "NPNetscapeFuncs.geturlnotify");
static_assert(offsetof(NPNetscapeFuncs, setexception) == kLayout.netscapeSetException,
              "NPNetscapeFuncs.setexception");
static_assert(offsetof(NPNetscapeFuncs, enumerate) == kLayout.netscapeEnumerate, "NPNetscapeFuncs.enumerate");
static_assert(offsetof(NPNetscapeFuncs, pluginthreadasynccall) == kLayout.netscapeThreadAsyncCall,
              "NPNetscapeFuncs.pluginthreadasynccall");
static_assert(offsetof(NPNetscapeFuncs, scheduletimer) == kLayout.netscapeScheduleTimer,
              "NPNetscapeFuncs.scheduletimer");
static_assert(offsetof(NPNetscapeFuncs, urlredirectresponse) + kEntry == kLayout.netscapeRedirectResponseEnd,
              "NPNetscapeFuncs.urlredirectresponse ends a version-26 table");

} // namespace np_expected
