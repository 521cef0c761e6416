#pragma once
// What Internet Explorer gives a control to reach its page: the browser
// (SID_SWebBrowserApp / IWebBrowser2), its document (IHTMLDocument2) and the document's
// window (IHTMLWindow2). As in the browser, the window's members are the globals of the
// page's script engine: its IDispatch is the engine's global object, and execScript runs
// code in that engine.

#include <windows.h>
#include <activscp.h>
#include <exdisp.h>

namespace orv { namespace test {

// A browser over one script engine's page (one reference, the caller's). `global` is the
// engine's global object, `parse` runs the window's execScript.
IWebBrowser2* makePageBrowser(IDispatch* global, IActiveScriptParse* parse);

}} // namespace orv::test
