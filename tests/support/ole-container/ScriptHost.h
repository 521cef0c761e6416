#pragma once
// Windows' JScript engine (jscript.dll) hosted as a page hosts it: IActiveScript with a
// site, and named items that script sees as globals (the control as "plugin").

#include <windows.h>
#include <activscp.h>
#include <exdisp.h>

#include "Page.h"

#include <map>
#include <string>

namespace orv { namespace test {

class ScriptSite;

// What one evaluation gave: the value (VT_EMPTY when the script failed) and, for a
// failure, the engine's error description.
struct ScriptResult {
    bool ok = false;
    VARIANT value;
    std::wstring error;
    ScriptResult() { VariantInit(&value); }
    ScriptResult(const ScriptResult&) = delete;
    ScriptResult(ScriptResult&& other) noexcept : ok(other.ok), value(other.value), error(std::move(other.error)) {
        VariantInit(&other.value);
    }
    ~ScriptResult() { VariantClear(&value); }
    std::string text() const;  // a VT_BSTR value as UTF-8
    double number() const;     // a numeric value; NaN otherwise
    bool isTrue() const { return ok && V_VT(&value) == VT_BOOL && V_BOOL(&value) == VARIANT_TRUE; }
};

class ScriptHost {
public:
    ScriptHost();
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    bool started() const { return m_script != nullptr; }
    // Makes `object` a global of the script under `name`.
    bool addItem(const std::wstring& name, IUnknown* object);
    // Evaluates one expression.
    ScriptResult eval(const std::wstring& expression);
    // Runs statements (function definitions and the like).
    bool run(const std::wstring& code);
    // Internet Explorer's browser over this engine's page: its window's members are this
    // engine's globals, its location `address` (one reference, the caller's; null when the
    // engine did not start).
    IWebBrowser2* makeBrowser(const std::wstring& address = kPageAddress);

private:
    IActiveScript* m_script = nullptr;
    IActiveScriptParse* m_parse = nullptr;
    ScriptSite* m_site = nullptr;
};

}} // namespace orv::test
