/* dll_check DLL-PATH VERSION BITS: loads the driver DLL as a host would and checks what an
 * integrator is told of it: its version resource (numbers and the texts Explorer shows, the
 * same version as the header's KRA_VERSION_* macros) and that it is the build for this
 * process's size with a working export. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "kra_MCR_Serial.h"

static int failures = 0;

static void Check(int ok, const char* what, const char* detail) {
    printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail ? ": " : "", detail ? detail : "");
    if (!ok) ++failures;
}

static const char* Text(void* info, const char* name) {
    char query[128];
    char* value = NULL;
    UINT length = 0;
    snprintf(query, sizeof query, "\\StringFileInfo\\040904E4\\%s", name);
    if (!VerQueryValueA(info, query, (void**)&value, &length) || !value) return "";
    return value;
}

int main(int argc, char** argv) {
    DWORD handle = 0, size;
    void* info;
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT fixedLength = 0;
    unsigned major = 0, minor = 0, patch = 0;
    char numbers[64];
    HMODULE dll;
    PFN_KRA_GetDeviceType deviceType;

    if (argc != 4 || sscanf(argv[2], "%u.%u.%u", &major, &minor, &patch) != 3) {
        printf("usage: dll_check DLL-PATH MAJOR.MINOR.PATCH 32|64\n");
        return 2;
    }
    Check(atoi(argv[3]) == (int)sizeof(void*) * 8, "the checker's size is the DLL's", argv[3]);
    snprintf(numbers, sizeof numbers, "%d.%d.%d", KRA_VERSION_MAJOR, KRA_VERSION_MINOR, KRA_VERSION_PATCH);
    Check(strcmp(numbers, KRA_VERSION_STRING) == 0 && strcmp(KRA_VERSION_STRING, argv[2]) == 0,
          "the header's KRA_VERSION_MAJOR.MINOR.PATCH and KRA_VERSION_STRING are the version", KRA_VERSION_STRING);

    dll = LoadLibraryA(argv[1]);
    Check(dll != NULL, "the DLL loads", argv[1]);
    if (!dll) return 1;
    deviceType = (PFN_KRA_GetDeviceType)(void*)GetProcAddress(dll, "KRA_GetDeviceType");
    Check(deviceType && deviceType() == 1, "KRA_GetDeviceType by name returns 1", NULL);
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(11)) == (FARPROC)deviceType, "ordinal 11 is KRA_GetDeviceType", NULL);

    size = GetFileVersionInfoSizeA(argv[1], &handle);
    Check(size > 0, "the DLL has a version resource", NULL);
    if (!size) return 1;
    info = malloc(size);
    if (!info || !GetFileVersionInfoA(argv[1], 0, size, info)) {
        Check(0, "GetFileVersionInfo", NULL);
        return 1;
    }
    VerQueryValueA(info, "\\", (void**)&fixed, &fixedLength);
    Check(fixed && fixed->dwSignature == 0xFEEF04BD, "fixed version block", NULL);
    if (fixed) {
        snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", (unsigned)HIWORD(fixed->dwFileVersionMS),
                 (unsigned)LOWORD(fixed->dwFileVersionMS), (unsigned)HIWORD(fixed->dwFileVersionLS),
                 (unsigned)LOWORD(fixed->dwFileVersionLS));
        Check(fixed->dwFileVersionMS == (DWORD)MAKELONG(KRA_VERSION_MINOR, KRA_VERSION_MAJOR) &&
                  fixed->dwFileVersionLS == (DWORD)MAKELONG(0, KRA_VERSION_PATCH) &&
                  fixed->dwFileVersionMS == (DWORD)MAKELONG(minor, major) && fixed->dwFileVersionLS == (DWORD)MAKELONG(0, patch) &&
                  fixed->dwProductVersionMS == fixed->dwFileVersionMS &&
                  fixed->dwProductVersionLS == fixed->dwFileVersionLS,
              "file and product version numbers", numbers);
        Check(fixed->dwFileType == VFT_DLL, "file type DLL", NULL);
    }
    Check(strcmp(Text(info, "FileVersion"), argv[2]) == 0, "FileVersion", Text(info, "FileVersion"));
    Check(strcmp(Text(info, "ProductVersion"), argv[2]) == 0, "ProductVersion", Text(info, "ProductVersion"));
    Check(strcmp(Text(info, "ProductName"), "kra_MCR_Serial") == 0, "ProductName", Text(info, "ProductName"));
    Check(strcmp(Text(info, "OriginalFilename"), "kra_MCR_Serial.dll") == 0, "OriginalFilename",
          Text(info, "OriginalFilename"));
    Check(strcmp(Text(info, "FileVersion"), KRA_VERSION_STRING) == 0, "FileVersion is KRA_VERSION_STRING",
          Text(info, "FileVersion"));
    Check(Text(info, "FileDescription")[0] != 0, "FileDescription", Text(info, "FileDescription"));
    Check(strcmp(Text(info, "CompanyName"), "kra_MCR_Serial") == 0, "CompanyName", Text(info, "CompanyName"));
    Check(strncmp(Text(info, "LegalCopyright"), "Copyright (c) ", 14) == 0 &&
              strstr(Text(info, "LegalCopyright"), "kra_MCR_Serial, MIT License") != NULL,
          "LegalCopyright", Text(info, "LegalCopyright"));
    free(info);
    FreeLibrary(dll);
    printf("dll_check: %d failed\n", failures);
    return failures ? 1 : 0;
}
