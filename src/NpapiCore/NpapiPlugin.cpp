#include "NpapiPlugin.h"

#include "FactoryBase.h"
#include "NPJavascriptObject.h"
#include "NpapiBrowserHost.h"
#include "NpapiStream.h"

#include <algorithm>
#include <limits>
#include <string>

namespace FB { namespace Npapi {

NpapiPlugin::NpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype)
    : BrowserPlugin(mimetype),
      m_obj(nullptr),
      m_npHost(host),
      m_retainReturnedNPObject(true),
      m_isReady(false),
      m_mimetype(mimetype),
      m_pluginName(getFactoryInstance()->getPluginName(mimetype)),
      m_pluginDesc(getFactoryInstance()->getPluginDescription(mimetype)) {
    pluginMain->setHost(host);
}

NpapiPlugin::~NpapiPlugin() {
    releaseScriptableObject();
}

void NpapiPlugin::releaseScriptableObject() {
    NPObject* obj = m_obj;
    m_obj = nullptr;
    if (obj && m_npHost)
        m_npHost->ReleaseObject(obj);
}

void NpapiPlugin::shutdown() {
    pluginMain->ClearWindow();
}

void NpapiPlugin::init(NPMIMEType, int16_t argc, char* argn[], char* argv[]) {
    VariantMap params;
    for (int16_t i = 0; argn && argv && i < argc; ++i) {
        // An attribute without a value, or without a name, is not a param.
        if (argn[i] && argv[i])
            params[argn[i]] = std::string(argv[i]);
    }
    pluginMain->setParams(params);

    if (pluginMain->isWindowless()) {
        m_npHost->SetValue(NPPVpluginWindowBool, nullptr);
        m_npHost->SetValue(NPPVpluginTransparentBool, reinterpret_cast<void*>(static_cast<std::intptr_t>(1)));
    }
    setReadyOnce();
}

void NpapiPlugin::setReadyOnce() {
    if (m_isReady)
        return;
    m_isReady = true;
    pluginMain->setReady();
}

NPError NpapiPlugin::SetWindow(NPWindow*) {
    setReadyOnce();
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::NewStream(NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype) {
    if (!stream || !stype)
        return NPERR_INVALID_PARAM;
    NpapiStreamPtr s = m_npHost->findStream(stream->notifyData);
    if (!s)
        return NPERR_NO_ERROR;
    if (s->isCompleted()) {
        // Closed by the plug-in before the browser started it: the browser need not send
        // what nobody reads.
        return NPERR_GENERIC_ERROR;
    }
    if (s->getStreamPtr() && s->getStreamPtr() != stream)
        return NPERR_GENERIC_ERROR;  // one request, one browser stream
    s->setMimeType(type ? type : "");
    s->setStreamPtr(stream);
    s->setLength(stream->end);
    if (stream->url)
        s->setUrl(stream->url);
    // An older browser's NPStream ends before the headers.
    if (m_npHost->browserFuncs().version >= NPVERS_HAS_RESPONSE_HEADERS && stream->headers)
        s->setHeaders(stream->headers);
    s->setSeekAvailable(seekable != 0);
    if (s->isSeekRequested() && !seekable) {
        s->signalFailedOpen();
        s->setStreamPtr(nullptr);
        return NPERR_STREAM_NOT_SEEKABLE;
    }
    if (s->isSeekRequested())
        *stype = NP_SEEK;
    else if (s->isCacheRequested())
        *stype = NP_ASFILE;
    else
        *stype = NP_NORMAL;
    s->setStarted();
    if (!s->isCompleted())
        s->signalOpened();
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::DestroyStream(NPStream* stream, NPReason reason) {
    if (!stream)
        return NPERR_INVALID_PARAM;
    NpapiStreamPtr s = m_npHost->findStream(stream->notifyData);
    if (!s)
        return NPERR_NO_ERROR;
    if (s->getStreamPtr() && s->getStreamPtr() != stream)
        return NPERR_NO_ERROR;  // not the browser stream this stream is attached to
    // The NPStream keeps its notify data: Firefox-family browsers take NPP_URLNotify's,
    // which comes after this, from it.
    if (s->getStreamPtr()) {
        s->setStreamPtr(nullptr);
        if (!s->isCompleted())
            s->signalCompleted(reason == NPRES_DONE);
    }
    s->setDestroyed();
    return NPERR_NO_ERROR;
}

int32_t NpapiPlugin::WriteReady(NPStream* stream) {
    NpapiStreamPtr s = stream ? m_npHost->findStream(stream->notifyData) : nullptr;
    if (!s)
        return -1;
    return static_cast<int32_t>(
        std::min<uint32_t>(s->getInternalBufferSize(), static_cast<uint32_t>(std::numeric_limits<int32_t>::max())));
}

int32_t NpapiPlugin::Write(NPStream* stream, int32_t offset, int32_t len, void* buffer) {
    NpapiStreamPtr s = stream ? m_npHost->findStream(stream->notifyData) : nullptr;
    if (!s)
        return -1;
    return s->signalDataArrived(buffer, len, offset);
}

void NpapiPlugin::StreamAsFile(NPStream* stream, const char* fname) {
    NpapiStreamPtr s = stream ? m_npHost->findStream(stream->notifyData) : nullptr;
    if (!s || !fname)
        return;
    // Byte by byte: the browser's file name is not decoded.
    std::wstring name;
    for (const char* p = fname; *p; ++p)
        name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    s->setCacheFilename(name);
}

void NpapiPlugin::Print(NPPrint*) {}

int16_t NpapiPlugin::HandleEvent(void*) {
    return 0;
}

void NpapiPlugin::URLNotify(const char*, NPReason reason, void* notifyData) {
    NpapiStreamPtr s = m_npHost->findStream(notifyData);
    if (!s)
        return;
    s->signalCompleted(reason == NPRES_DONE);
    s->setNotified();
}

NPError NpapiPlugin::GetValue(NPPVariable variable, void* value) {
    if (!value)
        return NPERR_INVALID_PARAM;
    switch (variable) {
    case NPPVpluginNameString:
        *static_cast<const char**>(value) = m_pluginName.c_str();
        return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
        *static_cast<const char**>(value) = m_pluginDesc.c_str();
        return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject:
        *static_cast<NPObject**>(value) = getScriptableObject();
        return NPERR_NO_ERROR;
    default:
        return NPERR_GENERIC_ERROR;
    }
}

NPError NpapiPlugin::SetValue(NPNVariable, void*) {
    return NPERR_NO_ERROR;
}

NPObject* NpapiPlugin::getScriptableObject() {
    if (!m_obj)
        m_obj = NPJavascriptObject::NewObject(m_npHost, pluginMain->getRootJSAPI(), false);
    if (m_obj && m_retainReturnedNPObject)
        m_npHost->RetainObject(m_obj);
    return m_obj;
}

}} // namespace FB::Npapi
