// The options library's entry point. Nothing but bookkeeping happens under the loader lock:
// resources are found through the module's own image base, never the host's.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    return TRUE;
}
