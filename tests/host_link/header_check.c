/* Compiled as strict C99 and as C++ (header_check.cpp), for each target: every function must
 * match its PFN_ typedef, or the assignments below fail to compile. */
#include "kra_MCR_Serial.h"

int kra_header_check(void) {
    PFN_KRA_Initialize initialize = KRA_Initialize;
    PFN_KRA_Finalize finalize = KRA_Finalize;
    PFN_KRA_EnableDevice enable = KRA_EnableDevice;
    PFN_KRA_DisableDevice disable = KRA_DisableDevice;
    PFN_KRA_GetInputBufferLen length = KRA_GetInputBufferLen;
    PFN_KRA_GetBuffer buffer = KRA_GetBuffer;
    PFN_KRA_ClearBuffer clear = KRA_ClearBuffer;
    PFN_KRA_DeviceDescription description = KRA_DeviceDescription;
    PFN_KRA_ConfigDialog dialog = KRA_ConfigDialog;
    PFN_KRA_GetLastErrorText error = KRA_GetLastErrorText;
    PFN_KRA_GetDeviceType type = KRA_GetDeviceType;
    PFN_KRA_GetStatus status = KRA_GetStatus;
    PFN_KRA_GetLastErrorCode code = KRA_GetLastErrorCode;
    PFN_KRA_WaitForCard wait = KRA_WaitForCard;
    /* KRA_STATUS is 40 bytes in both DLLs: a negative array size fails the compile otherwise. */
    typedef char status_is_40_bytes[sizeof(KRA_STATUS) == 40 ? 1 : -1];
    return initialize != 0 && finalize != 0 && enable != 0 && disable != 0 && length != 0 && buffer != 0 &&
           clear != 0 && description != 0 && dialog != 0 && error != 0 && type != 0 && status != 0 && code != 0 &&
           wait != 0 && sizeof(KRA_BOOL) == 1 && sizeof(status_is_40_bytes) == 1;
}
