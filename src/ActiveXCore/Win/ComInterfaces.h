#pragma once
// The plug-in's own COM interfaces. IFBControl (the control) and IFBComJavascriptObject
// (any other plug-in object in script) add nothing to IDispatchEx: answering them is how
// an IDispatch tells that it is one of ours. IFBComEventSource is the event interface of
// the connection points.

#include <windows.h>
#include <dispex.h>

namespace FB {
namespace ActiveX {

extern const IID IID_IFBControl;
extern const IID IID_IFBComJavascriptObject;
extern const IID DIID_IFBComEventSource;

struct IFBControl : public IDispatchEx {};
struct IFBComJavascriptObject : public IDispatchEx {};

} // namespace ActiveX
} // namespace FB
