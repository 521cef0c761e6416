#include "NpapiPlugin.h"

#include "FactoryBase.h"
#include "NPJavascriptObject.h"
#include "NpapiBrowserHost.h"

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
    if (m_obj && m_npHost)
        m_npHost->ReleaseObject(m_obj);
    m_obj = nullptr;
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

NPError NpapiPlugin::NewStream(NPMIMEType, NPStream*, NPBool, uint16_t* stype) {
    if (stype)
        *stype = NP_NORMAL;
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::DestroyStream(NPStream*, NPReason) {
    return NPERR_NO_ERROR;
}

int32_t NpapiPlugin::WriteReady(NPStream*) {
    return -1;
}

int32_t NpapiPlugin::Write(NPStream*, int32_t, int32_t, void*) {
    return -1;
}

void NpapiPlugin::StreamAsFile(NPStream*, const char*) {}

void NpapiPlugin::Print(NPPrint*) {}

int16_t NpapiPlugin::HandleEvent(void*) {
    return 0;
}

void NpapiPlugin::URLNotify(const char*, NPReason, void*) {}

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
