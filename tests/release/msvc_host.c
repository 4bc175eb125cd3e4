/* msvc_host: a host built as with a Microsoft toolchain, from the package alone: compiled by
 * clang for *-windows-msvc with the package's header, linked by lld-link against the package's
 * kra_MCR_Serial.lib, with no C runtime (the few Windows functions it needs are declared here and
 * imported through libraries llvm-dlltool makes from msvc_host_kernel32.def and _user32.def).
 * Run in a folder holding settings.xml and kra_MCR_Serial.dll, it starts the driver, waits up to
 * 20 seconds for the first card, prints "card <number>", stops the driver and exits 0. */
#include "kra_MCR_Serial.h"

typedef unsigned long DWORD; /* 32 bits on both sizes of Windows */
typedef int BOOL;
typedef void* HANDLE;
typedef struct {
    void* hwnd;
    unsigned int message;
    uintptr_t wParam;
    intptr_t lParam;
    DWORD time;
    long x, y;
    DWORD lPrivate;
} MSG;

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) DWORD __stdcall GetCurrentThreadId(void);
__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) DWORD __stdcall GetTickCount(void);
__declspec(dllimport) void __stdcall Sleep(DWORD milliseconds);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped);
__declspec(dllimport) BOOL __stdcall PeekMessageA(MSG* msg, void* window, unsigned int first, unsigned int last,
                                                  unsigned int remove);

#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define PM_NOREMOVE 0
#define PM_REMOVE 1
#define WM_USER 0x0400
#define WM_CARD 0x8001 /* WM_APP + 1 */

static void Print(const char* text) {
    DWORD length = 0, written;
    while (text[length]) ++length;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, 0);
}

void HostMain(void) {
    /* Length-prefixed texts: a count byte, then the characters. */
    static const unsigned char settings[] = "\x0csettings.xml";
    static const unsigned char section[] = "\x07" "Devices";
    static const unsigned char logFolder[] = "\x02.\\";
    MSG msg;
    DWORD started;
    int got = 0;

    Print("msvc_host for kra_MCR_Serial " KRA_VERSION_STRING "\r\n");
    PeekMessageA(&msg, 0, WM_USER, WM_USER, PM_NOREMOVE); /* the thread's message queue */
    if (!KRA_Initialize(settings, section, logFolder, 0)) {
        Print("start failed: ");
        Print(KRA_GetLastErrorText());
        Print("\r\n");
        KRA_Finalize();
        ExitProcess(1);
    }
    KRA_EnableDevice(GetCurrentThreadId(), 0, WM_CARD);
    started = GetTickCount();
    while (!got && GetTickCount() - started < 20000) {
        if (!PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            Sleep(20);
            continue;
        }
        if (msg.message == WM_CARD) {
            const char* digits = KRA_GetBuffer();
            Print("card ");
            Print(digits ? digits : "(empty)");
            Print("\r\n");
            KRA_ClearBuffer();
            got = 1;
        }
    }
    if (!got) Print("no card\r\n");
    Print(KRA_Finalize() ? "stopped\r\n" : "stop failed\r\n");
    ExitProcess(got ? 0 : 1);
}
