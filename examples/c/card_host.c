/* card_host: a complete host for kra_MCR_Serial.dll in plain C, without a message loop.
 *
 * It starts the driver, prints its status, then waits for each card with KRA_WaitForCard (no
 * window, no message queue, no KRA_EnableDevice: what a service or a console program needs),
 * prints the number with the time it came; after the given number of cards or seconds it stops
 * the driver. Ctrl+C stops the driver from the console's own thread, which ends the wait.
 * Build it against the import library:
 *   i686-w64-mingw32-gcc -std=c99 -I../../include card_host.c ../../x86/libkra_MCR_Serial.dll.a -o card_host.exe
 *   cl /I..\..\include card_host.c ..\..\x86\kra_MCR_Serial.lib        (x64\ for 64-bit)
 * and run it beside kra_MCR_Serial.dll:
 *   card_host.exe [settings.xml [section [log folder\ [cards [seconds]]]]]
 * A host with a window gets a message per card instead: KRA_EnableDevice (see the header).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "kra_MCR_Serial.h"

/* The driver takes its three texts length-prefixed: a count byte, then the characters. */
static void LengthPrefixed(unsigned char out[256], const char* text) {
    size_t n = strlen(text);
    if (n > 255) n = 255;
    out[0] = (unsigned char)n;
    memcpy(out + 1, text, n);
}

static BOOL WINAPI OnCtrlC(DWORD type) {
    (void)type;
    KRA_Finalize(); /* the wait in main returns -1 */
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
    KRA_STATUS status;
    DWORD started;
    int cards = 0;

    SetConsoleCtrlHandler(OnCtrlC, TRUE);
    SetConsoleOutputCP(1251); /* the driver's texts are Windows-1251 */
    KRA_DeviceDescription(&name, &description);
    printf("reader: %s (device type %d)\n", name, (int)KRA_GetDeviceType());

    LengthPrefixed(file, settings);
    LengthPrefixed(sectionText, section);
    LengthPrefixed(log, logFolder);
    /* A console program has no main window: the settings dialog would have no owner. */
    if (!KRA_Initialize(file, sectionText, log, NULL)) {
        printf("start failed (error %u): %s\n", (unsigned)KRA_GetLastErrorCode(), KRA_GetLastErrorText());
        KRA_Finalize(); /* closes the log that the failed start opened */
        return 1;
    }
    printf("started; log in %skra_MCR_Serial.01.log\n", logFolder);
    memset(&status, 0, sizeof status);
    status.Size = sizeof status; /* the driver fills what this header knows */
    if (KRA_GetStatus(&status))
        printf("status: port COM%d, %d baud, bits %d, settings %s\n", (int)status.COM_Number, (int)status.Baud,
               (int)status.Bits, (status.Flags & KRA_STATUS_SETTINGS_FILE) ? "from the file" : "with defaults");
    fflush(stdout);

    started = GetTickCount();
    for (;;) {
        char number[11]; /* ten digits and the NUL take every card */
        DWORD timeout = INFINITE;
        int32_t digits;
        SYSTEMTIME now;
        if (seconds) {
            DWORD spent = GetTickCount() - started;
            if (spent >= seconds * 1000) break;
            timeout = seconds * 1000 - spent;
        }
        digits = KRA_WaitForCard(timeout, number, sizeof number);
        if (digits == 0) break; /* the time is up */
        if (digits < 0) break;  /* stopped (Ctrl+C) */
        GetLocalTime(&now);
        printf("%02u:%02u:%02u.%03u card %s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, number);
        fflush(stdout);
        if (wantedCards > 0 && ++cards >= wantedCards) break;
    }
    if (!KRA_Finalize()) {
        printf("stop failed: %s\n", KRA_GetLastErrorText());
        return 1;
    }
    printf("stopped\n");
    return 0;
}
