/* companion-noexport/olvgui: an installed companion that lacks ShowPinCodeWindow. */
#ifdef _WIN32
#define DOUBLE_EXPORT __declspec(dllexport)
#else
#define DOUBLE_EXPORT __attribute__((visibility("default")))
#endif

/* Something to export, so the module is a plausible companion of another version. */
DOUBLE_EXPORT const char* olvgui_double_kind(void)
{
    return "noexport";
}
