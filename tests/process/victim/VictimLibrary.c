/* A library for the test victim. Two copies of it are built with the same preferred base, so
 * that the loader has to relocate the second one it loads. */
#include <windows.h>

__declspec(dllexport) int VictimLibraryMark(void) { return VICTIM_LIBRARY_MARK; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
