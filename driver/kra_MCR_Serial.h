/* kra_MCR_Serial.dll: driver of a contactless MIFARE card reader (ISO/IEC 14443) on a COM port.
 *
 * Call order:
 *   1. KRA_Initialize(settingsFile, section, logPath, mainWindow): starts polling the reader
 *      once a second. The three texts are length-prefixed: a count byte (0..255), then the
 *      characters, no terminator needed. On false, KRA_GetLastErrorText() says why
 *      (usually "Open error \\.\COM<n>"). logPath must end with a path separator.
 *   2. KRA_EnableDevice(threadId, 0, messageId): from now on, each card read is announced by
 *      a thread message messageId (wParam = lParam = 0) posted to threadId, which needs a
 *      message queue.
 *   3. On each such message: KRA_GetInputBufferLen() (digits + 1), KRA_GetBuffer() (the decimal
 *      card number, NUL-terminated), copy it, then KRA_ClearBuffer(). Until the buffer is
 *      cleared, further cards are only logged, not queued.
 *   4. KRA_Finalize() before unloading the library.
 * KRA_DisableDevice/KRA_EnableDevice may be called at any time; KRA_ConfigDialog shows the
 * settings dialog (takes effect at the next KRA_Initialize). All texts are Windows-1251.
 * Truth results are one byte: 1 true, 0 false.
 */
#ifndef KRA_MCR_SERIAL_H
#define KRA_MCR_SERIAL_H

#include <stdint.h>

#if defined(_WIN32)
#define KRA_CALL __stdcall
#else
#define KRA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char KRA_BOOL;

KRA_BOOL KRA_CALL KRA_Initialize(const unsigned char* SettingsFileName, const unsigned char* SettingsSection,
                                 const unsigned char* LogPath, void* AppHandle);          /* ordinal 9 */
KRA_BOOL KRA_CALL KRA_Finalize(void);                                                     /* ordinal 8 */
KRA_BOOL KRA_CALL KRA_EnableDevice(uint32_t HostThreadId, uint32_t Reserved, uint32_t NotifyMessageId); /* 7 */
KRA_BOOL KRA_CALL KRA_DisableDevice(void);                                                /* ordinal 6 */
int32_t KRA_CALL KRA_GetInputBufferLen(void);                                             /* ordinal 5 */
const char* KRA_CALL KRA_GetBuffer(void);                                                 /* ordinal 4 */
KRA_BOOL KRA_CALL KRA_ClearBuffer(void);                                                  /* ordinal 3 */
void KRA_CALL KRA_DeviceDescription(const char** NameText, const char** DescriptionText); /* ordinal 2 */
void KRA_CALL KRA_ConfigDialog(void);                                                     /* ordinal 1 */
const char* KRA_CALL KRA_GetLastErrorText(void);                                          /* ordinal 10 */
int32_t KRA_CALL KRA_GetDeviceType(void);                                                 /* ordinal 11 */

#ifdef __cplusplus
}

#include <string>

namespace kra {
/* A text as KRA_Initialize takes it: the count byte, then the characters (255 at most). */
inline std::string LengthPrefixed(const std::string& text) {
    const std::string::size_type n = text.size() > 255 ? 255 : text.size();
    std::string prefixed(1, static_cast<char>(n));
    prefixed.append(text, 0, n);
    return prefixed;
}
}  // namespace kra
#endif

#endif
