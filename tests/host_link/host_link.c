/* Calls the DLL as a C host linked with kra_MCR_Serial.lib would, by name and by ordinal. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "kra_MCR_Serial.h"

static int failures = 0;
#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                               \
        }                                                             \
    } while (0)

static FARPROC ByOrdinal(HMODULE dll, WORD ordinal) {
    FARPROC f = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
    return f ? f : (FARPROC)1; /* never equal to a found name */
}

int main(void) {
    const char* name = NULL;
    const char* description = NULL;
    HMODULE dll = GetModuleHandleA("kra_MCR_Serial.dll");
    CHECK(dll != NULL);

    CHECK(KRA_GetDeviceType() == 1);
    CHECK(KRA_GetLastErrorText() != NULL && KRA_GetLastErrorText()[0] == 0);
    KRA_DeviceDescription(&name, &description);
    CHECK(name != NULL && description != NULL);
    CHECK(strlen(description) == strlen(name) + 1 && description[strlen(name)] == '.');
    CHECK(KRA_GetBuffer() == NULL);
    CHECK(KRA_GetInputBufferLen() == 0);
    CHECK(KRA_ClearBuffer() == 1);
    CHECK(KRA_EnableDevice(GetCurrentThreadId(), 0, WM_USER + 1) == 1);
    CHECK(KRA_DisableDevice() == 1);
    CHECK(KRA_Finalize() == 1);
    {
        /* Since 1.1: before any start the status is all zero but Size, and nothing waits. */
        KRA_STATUS status;
        char digits[11];
        memset(&status, 0xCC, sizeof status);
        status.Size = sizeof status;
        CHECK(sizeof status == 40);
        CHECK(KRA_GetStatus(&status) == 1);
        CHECK(status.Size == 40 && status.Flags == 0 && status.COM_Number == 0 && status.CardsRead == 0 &&
              status.CardsDropped == 0);
        CHECK(KRA_GetStatus(NULL) == 0);
        CHECK(KRA_GetLastErrorCode() == KRA_ERROR_NONE);
        CHECK(KRA_WaitForCard(0, digits, sizeof digits) == -1);
        CHECK(KRA_WaitForCard(0, NULL, sizeof digits) == -2);
    }

    /* The ordinals of the export table name the same functions as the names. */
    CHECK(ByOrdinal(dll, 1) == GetProcAddress(dll, "KRA_ConfigDialog"));
    CHECK(ByOrdinal(dll, 2) == GetProcAddress(dll, "KRA_DeviceDescription"));
    CHECK(ByOrdinal(dll, 3) == GetProcAddress(dll, "KRA_ClearBuffer"));
    CHECK(ByOrdinal(dll, 4) == GetProcAddress(dll, "KRA_GetBuffer"));
    CHECK(ByOrdinal(dll, 5) == GetProcAddress(dll, "KRA_GetInputBufferLen"));
    CHECK(ByOrdinal(dll, 6) == GetProcAddress(dll, "KRA_DisableDevice"));
    CHECK(ByOrdinal(dll, 7) == GetProcAddress(dll, "KRA_EnableDevice"));
    CHECK(ByOrdinal(dll, 8) == GetProcAddress(dll, "KRA_Finalize"));
    CHECK(ByOrdinal(dll, 9) == GetProcAddress(dll, "KRA_Initialize"));
    CHECK(ByOrdinal(dll, 10) == GetProcAddress(dll, "KRA_GetLastErrorText"));
    CHECK(ByOrdinal(dll, 11) == GetProcAddress(dll, "KRA_GetDeviceType"));
    CHECK(ByOrdinal(dll, 12) == GetProcAddress(dll, "KRA_GetStatus"));
    CHECK(ByOrdinal(dll, 13) == GetProcAddress(dll, "KRA_GetLastErrorCode"));
    CHECK(ByOrdinal(dll, 14) == GetProcAddress(dll, "KRA_WaitForCard"));

    printf("host_link: %d failed\n", failures);
    return failures ? 1 : 0;
}
