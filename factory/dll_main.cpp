// What the Windows loader calls when Dynamics.ovm is loaded and unloaded.

#include <windows.h>

// The library keeps nothing per thread, so it asks not to be called for every thread the
// host starts or ends: a host's audio and worker threads then start and end without taking
// the loader's lock on this library's account.
extern "C" BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(library);
    return TRUE;
}
