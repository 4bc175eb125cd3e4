// The DLL itself: the exports live in the driver library and are named by the .def file.
// Loading the library runs nothing of the driver's own.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
