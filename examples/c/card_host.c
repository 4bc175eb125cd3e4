/* card_host: a complete host for kra_MCR_Serial.dll in plain C.
 *
 * It starts the driver, asks for one thread message per card, and on each message reads the
 * number, prints it with the time it came, and clears the buffer; after the given number of
 * cards or seconds (or Ctrl+C) it stops the driver. Build it against the import library:
 *   i686-w64-mingw32-gcc -std=c99 -I../../include card_host.c ../../x86/libkra_MCR_Serial.dll.a -o card_host.exe
 *   cl /I..\..\include card_host.c ..\..\x86\kra_MCR_Serial.lib        (x64\ for 64-bit)
 * and run it beside kra_MCR_Serial.dll:
 *   card_host.exe [settings.xml [section [log folder\ [cards [seconds]]]]]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "kra_MCR_Serial.h"

/* Any number from WM_APP up is the host's own; the driver posts it with wParam = lParam = 0. */
#define WM_CARD (WM_APP + 1)

static volatile DWORD mainThread;

/* The driver takes its three texts length-prefixed: a count byte, then the characters. */
static void LengthPrefixed(unsigned char out[256], const char* text) {
    size_t n = strlen(text);
    if (n > 255) n = 255;
    out[0] = (unsigned char)n;
    memcpy(out + 1, text, n);
}

static BOOL WINAPI OnCtrlC(DWORD type) {
    (void)type;
    PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
    return TRUE;
}

int main(int argc, char** argv) {
    const char* settings = argc > 1 ? argv[1] : "card_host.xml";
    const char* section = argc > 2 ? argv[2] : "Devices";
    const char* logFolder = argc > 3 ? argv[3] : ".\\";
    const int wantedCards = argc > 4 ? atoi(argv[4]) : 0; /* 0: no limit */
    const DWORD seconds = argc > 5 ? (DWORD)atoi(argv[5]) : 0; /* 0: until Ctrl+C */
    unsigned char file[256], sectionText[256], log[256];
    const char *name = NULL, *description = NULL;
    DWORD started;
    int cards = 0;
    MSG msg;

    /* The notifications go to this thread: it needs a message queue before KRA_EnableDevice. */
    PeekMessageA(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    mainThread = GetCurrentThreadId();
    SetConsoleCtrlHandler(OnCtrlC, TRUE);

    SetConsoleOutputCP(1251); /* the driver's texts are Windows-1251 */
    KRA_DeviceDescription(&name, &description);
    printf("reader: %s (device type %d)\n", name, (int)KRA_GetDeviceType());

    LengthPrefixed(file, settings);
    LengthPrefixed(sectionText, section);
    LengthPrefixed(log, logFolder);
    /* A console program has no main window: the settings dialog would have no owner. */
    if (!KRA_Initialize(file, sectionText, log, NULL)) {
        printf("start failed: %s\n", KRA_GetLastErrorText());
        KRA_Finalize(); /* closes the log that the failed start opened */
        return 1;
    }
    printf("started; log in %skra_MCR_Serial.01.log\n", logFolder);
    fflush(stdout);
    KRA_EnableDevice(GetCurrentThreadId(), 0, WM_CARD); /* after the start: it switches delivery off */

    started = GetTickCount();
    for (;;) {
        DWORD timeout = INFINITE;
        if (seconds) {
            DWORD spent = GetTickCount() - started;
            if (spent >= seconds * 1000) break;
            timeout = seconds * 1000 - spent;
        }
        if (MsgWaitForMultipleObjects(0, NULL, FALSE, timeout, QS_ALLINPUT) == WAIT_TIMEOUT) break;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) goto stop;
            if (msg.hwnd == NULL && msg.message == WM_CARD) {
                /* Copy the digits first: the pointer is the driver's until KRA_ClearBuffer. */
                char number[16] = "";
                const char* digits = KRA_GetBuffer();
                SYSTEMTIME now;
                if (digits) strncpy(number, digits, sizeof number - 1);
                KRA_ClearBuffer();
                GetLocalTime(&now);
                printf("%02u:%02u:%02u.%03u card %s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                       number);
                fflush(stdout);
                if (wantedCards > 0 && ++cards >= wantedCards) goto stop;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
stop:
    KRA_DisableDevice();
    if (!KRA_Finalize()) {
        printf("stop failed: %s\n", KRA_GetLastErrorText());
        return 1;
    }
    printf("stopped\n");
    return 0;
}
