// The DLL itself: the exports live in the driver library and are named by the .def file.
// Loading the library runs nothing of the driver's own.
#include <windows.h>

// The statically linked runtime (winpthreads under libstdc++) takes a thread-local-storage
// index, an event per host thread that meets a lock and a duplicate of that thread's handle,
// and frees none of them when the DLL is unloaded: a host that loads and unloads the driver
// loses them with every cycle until TlsAlloc fails inside LoadLibrary. So the first load keeps
// the module for the life of the process, and the runtime's state is made once: a later
// FreeLibrary and LoadLibrary only count, and the DLL file stays in use until the host exits.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&DllMain), &self);
    }
    return TRUE;
}
