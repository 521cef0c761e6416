#pragma once
// What Internet Explorer gives a control to reach its page: the browser
// (SID_SWebBrowserApp / IWebBrowser2), its document (IHTMLDocument2) and the document's
// window (IHTMLWindow2), whose location is the document's address. As in the browser, the
// window is one object: its IDispatchEx serves the globals of the page's script engine, its
// IHTMLWindow2 the browser's own members, and execScript runs code in that engine.

#include <windows.h>
#include <activscp.h>
#include <exdisp.h>

#include <string>

namespace orv { namespace test {

// The address of a test page's document unless the test names another.
extern const wchar_t* const kPageAddress;

// A browser over one page at `address` (one reference, the caller's). `global` is the script
// engine's global object (null: a page without script, whose window has no script members),
// `parse` runs the window's execScript.
IWebBrowser2* makePageBrowser(IDispatch* global, IActiveScriptParse* parse,
                              const std::wstring& address = kPageAddress);

}} // namespace orv::test
