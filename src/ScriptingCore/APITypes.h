#pragma once
// Forward declarations and handle types shared by the whole framework.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace FB {

class variant;
class JSAPI;
class JSAPIAuto;
class JSObject;
class JSFunction;
class BrowserHost;

using VariantList = std::vector<variant>;
using VariantMap = std::map<std::string, variant>;

using JSAPIPtr = std::shared_ptr<JSAPI>;
using JSAPIWeakPtr = std::weak_ptr<JSAPI>;
using JSObjectPtr = std::shared_ptr<JSObject>;
using JSFunctionPtr = std::shared_ptr<JSFunction>;
using BrowserHostPtr = std::shared_ptr<BrowserHost>;
using BrowserHostWeakPtr = std::weak_ptr<BrowserHost>;

using JSObjectList = std::vector<JSObjectPtr>;

class BrowserStream;
class BrowserStreamManager;
class PluginEventSink;
using BrowserStreamPtr = std::shared_ptr<BrowserStream>;
using BrowserStreamManagerPtr = std::shared_ptr<BrowserStreamManager>;
using PluginEventSinkPtr = std::shared_ptr<PluginEventSink>;

namespace DOM {
class Node;
class Element;
class Document;
class Window;
using NodePtr = std::shared_ptr<Node>;
using ElementPtr = std::shared_ptr<Element>;
using DocumentPtr = std::shared_ptr<Document>;
using WindowPtr = std::shared_ptr<Window>;
} // namespace DOM

// Member visibility level; larger is more privileged.
using SecurityZone = std::int32_t;
enum SecurityZones : SecurityZone { SecurityScope_Public = 0, SecurityScope_Protected = 2,
                                    SecurityScope_Private = 4, SecurityScope_Local = 6 };

} // namespace FB
