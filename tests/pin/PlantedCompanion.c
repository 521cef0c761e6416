/* A module planted under a companion's name (olvgui, olvcrypt) where the plug-in must not
 * look for it, or placed where it must. Loading it records its own path, whoever loads it
 * and however briefly: the environment variable ORV_COMPANION_LOADS gains the path and a
 * ';'. It exports nothing a companion would. */

#ifdef _WIN32
#include <windows.h>

static void record(HINSTANCE self)
{
    char path[MAX_PATH];
    char loads[8192];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    DWORD had;
    if (n == 0 || n >= MAX_PATH)
        return;
    had = GetEnvironmentVariableA("ORV_COMPANION_LOADS", loads, sizeof loads);
    if (had >= sizeof loads)
        return;
    if (had == 0)
        loads[0] = '\0';
    if (had + n + 2 > sizeof loads)
        return;
    lstrcatA(loads, path);
    lstrcatA(loads, ";");
    SetEnvironmentVariableA("ORV_COMPANION_LOADS", loads);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        record(self);
    return TRUE;
}
#else
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

__attribute__((constructor)) static void record(void)
{
    Dl_info info;
    const char* had;
    char loads[8192];
    if (!dladdr((void*)&record, &info) || !info.dli_fname)
        return;
    had = getenv("ORV_COMPANION_LOADS");
    if (strlen(had ? had : "") + strlen(info.dli_fname) + 2 > sizeof loads)
        return;
    strcpy(loads, had ? had : "");
    strcat(loads, info.dli_fname);
    strcat(loads, ";");
    setenv("ORV_COMPANION_LOADS", loads, 1);
}
#endif
