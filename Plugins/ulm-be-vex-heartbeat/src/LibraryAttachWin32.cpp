// The library attach routine of the Windows build. On process attach it only
// switches off the per-thread attach and detach notifications, which the
// library does not use; everything else happens in static initialisation and
// in the export.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}
