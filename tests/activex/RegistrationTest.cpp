// The COM server as users register it and COM uses it, under Wine: regsvr32 (per user),
// regsvr32 /n /i:user, a host named heat.exe (machine-wide), every key and value read back
// with reg query, nothing of ours left after unregistering and nothing of others removed;
// then the class object and unload test called in this process.

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const wchar_t kClsid[] = L"{7C3B5E21-9A4D-4F6E-B812-3D5A0C94E1F7}";
const wchar_t kAppId[] = L"{B5F04C39-2E7A-4D18-9B6C-E13A7F520D94}";
const wchar_t kLibId[] = L"{4E8D2A17-C6B3-4F90-A5E1-7B2D9C0F3A68}";
const CLSID CLSID_FBControl0 = {0x7c3b5e21, 0x9a4d, 0x4f6e, {0xb8, 0x12, 0x3d, 0x5a, 0x0c, 0x94, 0xe1, 0xf7}};
const wchar_t kUserClasses[] = L"HKCU\\Software\\Classes";
const wchar_t kMachineClasses[] = L"HKLM\\Software\\Classes";
const wchar_t kExt[] = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Ext";

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The built module as this Wine process names it.
std::wstring builtModule() {
    std::wstring path = L"Z:" + widen(ORV_NPORVANTA_PATH);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring testBinDir() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

// Runs a command line, returns its exit code and (optionally) what it wrote to stdout.
DWORD run(const std::wstring& commandLine, std::string* output = nullptr) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return 0xffffffff;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return 0xfffffffe;
    }
    // Read while the program runs and stop when it has ended, not at the pipe's end: a
    // process the program starts (Wine starts its services on first need) can inherit the
    // pipe and keep it open for the rest of the session.
    std::string text;
    char buffer[4096];
    const DWORD start = GetTickCount();
    for (bool ended = false; !ended;) {
        ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            DWORD got = 0;
            if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0)
                break;
            text.append(buffer, got);
        }
        if (!ended && GetTickCount() - start > 120000) {
            TerminateProcess(process.hProcess, 0xfffffffc);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    CloseHandle(readEnd);
    DWORD code = 0xfffffffd;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (output)
        *output = text;
    return code;
}

std::string narrow(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// reg answers 0 for a key that is there and 1 for one that is not; any other status is reg
// itself failing, and it is asked again before the key counts as missing (a run on a loaded
// machine once missed one key of a registration whose other keys were all there).
bool keyExists(const std::wstring& key) {
    DWORD code = 1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        code = run(L"reg query \"" + key + L"\"");
        if (code == 0 || code == 1)
            break;
    }
    return code == 0;
}

struct RegValue {
    bool found = false;
    std::string type;
    std::string data;
};

// One value as reg query prints it ("    NAME    TYPE    DATA"); an empty name reads the
// key's default value.
RegValue queryValue(const std::wstring& key, const std::wstring& name) {
    std::string out;
    RegValue value;
    std::wstring which = name.empty() ? L" /ve" : L" /v \"" + name + L"\"";
    if (run(L"reg query \"" + key + L"\"" + which, &out) != 0)
        return value;
    std::string::size_type start = 0;
    while (start < out.size()) {
        std::string::size_type end = out.find('\n', start);
        std::string line = out.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string::size_type typeAt = line.find("    REG_");
        if (line.compare(0, 4, "    ") != 0 || typeAt == std::string::npos)
            continue;
        std::string rest = line.substr(typeAt + 4);
        std::string::size_type gap = rest.find("    ");
        value.found = true;
        value.type = rest.substr(0, gap);
        value.data = gap == std::string::npos ? std::string() : rest.substr(gap + 4);
        return value;
    }
    return value;
}

struct Expected {
    std::wstring key;    // below the classes root, or absolute when it starts with HKCU
    std::wstring name;   // empty: the default value; "-": the key only
    const char* type;
    std::string data;
};

std::vector<Expected> expectedEntries(const std::string& module) {
    const std::wstring c = kClsid;
    const std::string clsid = narrow(kClsid), appId = narrow(kAppId), libId = narrow(kLibId);
    const std::wstring mime = L"MIME\\Database\\Content Type\\application/x-orvanta";
    const std::wstring stats = std::wstring(kExt) + L"\\Stats\\" + c;
    return {
        {L"Kelmo.orvanta.1", L"", "REG_SZ", "pelorima orvanta plugin"},
        {L"Kelmo.orvanta.1\\CLSID", L"", "REG_SZ", clsid},
        {L"Kelmo.orvanta", L"", "REG_SZ", "pelorima orvanta plugin"},
        {L"Kelmo.orvanta\\CLSID", L"", "REG_SZ", clsid},
        {L"Kelmo.orvanta\\CurVer", L"", "REG_SZ", "Kelmo.orvanta.1"},
        {L"CLSID\\" + c, L"", "REG_SZ", "pelorima orvanta plugin"},
        {L"CLSID\\" + c, L"AppID", "REG_SZ", appId},
        {L"CLSID\\" + c + L"\\ProgID", L"", "REG_SZ", "Kelmo.orvanta.1"},
        {L"CLSID\\" + c + L"\\VersionIndependentProgID", L"", "REG_SZ", "Kelmo.orvanta"},
        {L"CLSID\\" + c + L"\\Programmable", L"-", "", ""},
        {L"CLSID\\" + c + L"\\Control", L"-", "", ""},
        {L"CLSID\\" + c + L"\\InprocServer32", L"", "REG_SZ", module},
        {L"CLSID\\" + c + L"\\InprocServer32", L"ThreadingModel", "REG_SZ", "Apartment"},
        {L"CLSID\\" + c + L"\\MiscStatus", L"", "REG_SZ", "0"},
        {L"CLSID\\" + c + L"\\MiscStatus\\1", L"", "REG_SZ", "131473"},
        {L"CLSID\\" + c + L"\\TypeLib", L"", "REG_SZ", libId},
        {L"CLSID\\" + c + L"\\Version", L"", "REG_SZ", "1"},
        {mime, L"", "REG_SZ", "pelorima orvanta plugin"},
        {mime, L"Extension", "REG_SZ", ""},
        {mime, L"CLSID", "REG_SZ", clsid},
        {L"AppID\\" + std::wstring(kAppId), L"", "REG_SZ", "PluginWin"},
        {L"AppID\\nporvanta.dll", L"AppID", "REG_SZ", appId},
        {std::wstring(kExt) + L"\\PreApproved\\" + c, L"-", "", ""},
        {stats + L"\\iexplore", L"Count", "REG_DWORD", "0x0"},
        {stats + L"\\iexplore\\AllowedDomains\\*", L"-", "", ""},
        {L"HKCU\\Software\\MozillaPlugins\\kelmo.ru/orvanta", L"Path", "REG_SZ", module},
    };
}

std::wstring fullKey(const std::wstring& classesRoot, const std::wstring& key) {
    return key.compare(0, 4, L"HKCU") == 0 ? key : classesRoot + L"\\" + key;
}

void expectRegistered(const std::wstring& classesRoot, const std::string& module) {
    for (const Expected& e : expectedEntries(module)) {
        std::wstring key = fullKey(classesRoot, e.key);
        if (e.name == L"-") {
            EXPECT_TRUE(keyExists(key)) << narrow(key);
            continue;
        }
        RegValue v = queryValue(key, e.name);
        EXPECT_TRUE(v.found) << narrow(key) << " value '" << narrow(e.name) << "'";
        EXPECT_EQ(v.type, e.type) << narrow(key) << " value '" << narrow(e.name) << "'";
        EXPECT_EQ(v.data, e.data) << narrow(key) << " value '" << narrow(e.name) << "'";
    }
}

// Every key of ours gone under both classes roots (values of kept keys included).
void expectNothingLeft() {
    for (const wchar_t* root : {kUserClasses, kMachineClasses}) {
        for (const Expected& e : expectedEntries("")) {
            std::wstring key = fullKey(root, e.key);
            if (e.key.compare(0, 4, L"HKCU") == 0 || e.key.find(L"\\") == std::wstring::npos ||
                e.name == L"-" || e.name.empty())
                EXPECT_FALSE(keyExists(key)) << narrow(key);
            else
                EXPECT_FALSE(queryValue(key, e.name).found) << narrow(key) << " " << narrow(e.name);
        }
    }
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        // Others' entries beside ours, which unregistration must leave alone.
        for (const wchar_t* root : {kUserClasses, kMachineClasses}) {
            ASSERT_EQ(run(L"reg add \"" + std::wstring(root) + L"\\CLSID\\{00000000-1111-2222-3333-444444444444}\" /ve /d other /f"), 0u);
            ASSERT_EQ(run(L"reg add \"" + std::wstring(root) + L"\\MIME\\Database\\Content Type\\application/x-other\" /v CLSID /d x /f"), 0u);
            ASSERT_EQ(run(L"reg add \"" + std::wstring(root) + L"\\AppID\\other.dll\" /v AppID /d x /f"), 0u);
        }
        ASSERT_EQ(run(L"reg add \"HKCU\\Software\\MozillaPlugins\\other.org/plugin\" /v Path /d x /f"), 0u);
    }

    void TearDown() override {
        expectNothingLeft();
        for (const wchar_t* root : {kUserClasses, kMachineClasses}) {
            EXPECT_TRUE(keyExists(std::wstring(root) + L"\\CLSID\\{00000000-1111-2222-3333-444444444444}"));
            EXPECT_TRUE(queryValue(std::wstring(root) + L"\\MIME\\Database\\Content Type\\application/x-other", L"CLSID").found);
            EXPECT_TRUE(queryValue(std::wstring(root) + L"\\AppID\\other.dll", L"AppID").found);
        }
        EXPECT_TRUE(queryValue(L"HKCU\\Software\\MozillaPlugins\\other.org/plugin", L"Path").found);
    }

    std::wstring heat(const wchar_t* command, const std::wstring& module, const wchar_t* commandLine = nullptr) {
        std::wstring line = L"\"" + testBinDir() + L"\\heat.exe\" " + command + L" \"" + module + L"\"";
        return commandLine ? line + L" \"" + commandLine + L"\"" : line;
    }
};

} // namespace

// Under regsvr32 (any host but heat.exe) registration always goes to the current user.
TEST_F(Registration, Regsvr32RegistersForTheCurrentUserAndUnregistersAll) {
    const std::wstring module = builtModule();
    const std::wstring classKey = std::wstring(kUserClasses) + L"\\CLSID\\" + kClsid;
    const std::wstring progIdShell = std::wstring(kUserClasses) + L"\\Kelmo.orvanta\\shell";
    // A stale subkey under the ForceRemove class key goes; another program's subkey under a
    // ProgID key (no flag) keeps that key through unregistration.
    ASSERT_EQ(run(L"reg add \"" + classKey + L"\\Stale\" /ve /d old /f"), 0u);
    ASSERT_EQ(run(L"reg add \"" + progIdShell + L"\" /ve /d open /f"), 0u);
    ASSERT_EQ(run(L"regsvr32 /s \"" + module + L"\""), 0u);
    expectRegistered(kUserClasses, narrow(module));
    EXPECT_FALSE(keyExists(classKey + L"\\Stale"));
    EXPECT_FALSE(keyExists(std::wstring(kMachineClasses) + L"\\CLSID\\" + kClsid));
    ASSERT_EQ(run(L"regsvr32 /s /u \"" + module + L"\""), 0u);
    EXPECT_EQ(queryValue(progIdShell, L"").data, "open");
    EXPECT_FALSE(keyExists(std::wstring(kUserClasses) + L"\\Kelmo.orvanta\\CurVer"));
    ASSERT_EQ(run(L"reg delete \"" + std::wstring(kUserClasses) + L"\\Kelmo.orvanta\" /f"), 0u);
}

TEST_F(Registration, DllInstallUserRegistersForTheCurrentUser) {
    const std::wstring module = builtModule();
    ASSERT_EQ(run(L"regsvr32 /s /n /i:user \"" + module + L"\""), 0u);
    expectRegistered(kUserClasses, narrow(module));
    EXPECT_FALSE(keyExists(std::wstring(kMachineClasses) + L"\\CLSID\\" + kClsid));
    ASSERT_EQ(run(L"regsvr32 /s /u /n /i:user \"" + module + L"\""), 0u);
}

// Only a host named heat.exe registers machine-wide, unless DllInstall asked for "user".
TEST_F(Registration, HeatHostRegistersMachineWideUnlessAskedForUser) {
    const std::wstring module = builtModule();
    ASSERT_EQ(run(heat(L"register", module)), 0u);
    expectRegistered(kMachineClasses, narrow(module));
    EXPECT_FALSE(keyExists(std::wstring(kUserClasses) + L"\\CLSID\\" + kClsid));

    // COM finds the class by its ProgID and creates it from the registered path.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    CLSID clsid = {};
    EXPECT_EQ(CLSIDFromProgID(L"Kelmo.orvanta", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_FBControl0));
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)), S_OK);
    if (object)
        object->Release();
    CoUninitialize();

    ASSERT_EQ(run(heat(L"unregister", module)), 0u);
    expectNothingLeft();

    // DllInstall's command line: "user" in any case selects the current user; text that
    // only begins with it does not.
    struct InstallCase {
        const wchar_t* commandLine;
        const wchar_t* root;
    };
    const InstallCase cases[] = {{L"user", kUserClasses}, {L"USER", kUserClasses}, {L"users", kMachineClasses}};
    for (const InstallCase& c : cases) {
        SCOPED_TRACE(narrow(c.commandLine));
        ASSERT_EQ(run(heat(L"install", module, c.commandLine)), 0u);
        expectRegistered(c.root, narrow(module));
        const wchar_t* other = c.root == kUserClasses ? kMachineClasses : kUserClasses;
        EXPECT_FALSE(keyExists(std::wstring(other) + L"\\CLSID\\" + kClsid));
        ASSERT_EQ(run(heat(L"uninstall", module, c.commandLine)), 0u);
        expectNothingLeft();
    }
}

// The script quotes the path; a quote in it must reach the registry as one quote.
TEST_F(Registration, ModulePathWithASingleQuote) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"orvanta's plug-in";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring module = dir + L"\\nporvanta.dll";
    ASSERT_TRUE(CopyFileW(builtModule().c_str(), module.c_str(), FALSE));
    ASSERT_EQ(run(L"regsvr32 /s \"" + module + L"\""), 0u);
    EXPECT_EQ(queryValue(std::wstring(kUserClasses) + L"\\CLSID\\" + kClsid + L"\\InprocServer32", L"").data,
              narrow(module));
    EXPECT_EQ(queryValue(L"HKCU\\Software\\MozillaPlugins\\kelmo.ru/orvanta", L"Path").data, narrow(module));
    ASSERT_EQ(run(L"regsvr32 /s /u \"" + module + L"\""), 0u);
    EXPECT_TRUE(DeleteFileW(module.c_str()));
    RemoveDirectoryW(dir.c_str());
}

namespace {

using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(WINAPI*)();

class ClassObject : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW(builtModule().c_str());
        ASSERT_NE(m_module, nullptr);
        getClassObject = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<CanUnloadNow>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "DllCanUnloadNow")));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_NE(canUnloadNow, nullptr);
    }
    void TearDown() override {
        if (m_module)
            FreeLibrary(m_module);
    }

    GetClassObject getClassObject = nullptr;
    CanUnloadNow canUnloadNow = nullptr;

private:
    HMODULE m_module = nullptr;
};

} // namespace

TEST_F(ClassObject, OtherClassIdsAndNullOutPointerAreRefused) {
    const CLSID other = {0x00000000, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject(CLSID_FBControl0, IID_IClassFactory, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(CLSID_FBControl0, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

// Live objects, LockServer locks and a client's hold on the class factory keep the module
// loaded; nothing else does.
TEST_F(ClassObject, LockCountDecidesUnloading) {
    EXPECT_EQ(canUnloadNow(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_FBControl0, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a client holds the class factory";
    IClassFactory* again = nullptr;
    ASSERT_EQ(getClassObject(CLSID_FBControl0, IID_IClassFactory, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, factory) << "one factory per class, kept";
    again->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);

    IUnknown* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    // Never called: aggregation is refused before the outer object is used.
    int outer = 0;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(&outer), IID_IUnknown,
                                      reinterpret_cast<void**>(&object)), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    IUnknown* second = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_NE(second, object);
    // The factory let go of, the objects still keep the module.
    factory->Release();
    factory = nullptr;
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    object->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    second->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);

    // A LockServer lock outlives the client's reference to the factory.
    ASSERT_EQ(getClassObject(CLSID_FBControl0, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ASSERT_EQ(getClassObject(CLSID_FBControl0, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}
