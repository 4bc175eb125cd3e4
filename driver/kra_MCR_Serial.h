/* kra_MCR_Serial.h: the host's reference to kra_MCR_Serial.dll 1.0, the driver of a contactless
 * MIFARE card reader (ISO/IEC 14443) on a serial COM port. Plain C (C99) and C++; 32-bit and
 * 64-bit Windows.
 *
 * ------------------------------------------------------------------------------------------
 * In short
 *   1. KRA_Initialize(settingsFile, section, logPath, mainWindow)  start polling the reader
 *   2. KRA_EnableDevice(threadId, 0, WM_APP + n)                   ask for a message per card
 *   3. on each such message: KRA_GetInputBufferLen(), KRA_GetBuffer() (copy the digits),
 *      KRA_ClearBuffer()
 *   4. KRA_Finalize()                                              stop, before FreeLibrary
 *
 * Calling convention and types
 *   - Every function is __stdcall and exported under its plain name (ordinals 1 to 11, given
 *     with each). Link kra_MCR_Serial.lib, or take the functions with GetProcAddress by name
 *     (the PFN_ typedefs below); 64-bit Windows has one calling convention, and the same names.
 *   - KRA_BOOL results are one byte: 1 true, 0 false.
 *   - Texts are 8-bit, Windows-1251 (the Russian ANSI code page). The three texts that
 *     KRA_Initialize takes are length-prefixed: one count byte (0 to 255), then that many
 *     characters, no terminator needed; the driver copies them before it returns.
 *   - Which types differ between the two DLLs: pointers (the texts, AppHandle, the results of
 *     KRA_GetBuffer and KRA_GetLastErrorText, the arguments of KRA_DeviceDescription) are 4 bytes
 *     in the 32-bit DLL and 8 bytes in the 64-bit one. Everything else is the same size in both:
 *     HostThreadId, Reserved and NotifyMessageId are 32-bit unsigned, the counts 32-bit signed,
 *     KRA_BOOL one byte. A 32-bit process loads only the 32-bit DLL, a 64-bit process only the
 *     64-bit one (.NET "Any CPU" on 64-bit Windows runs as 64-bit).
 *
 * States
 *   loaded      after LoadLibrary: nothing runs, no log is written.
 *   running     after KRA_Initialize returned 1: the polling thread asks the reader once a
 *               second and the log is open.
 *   start failed after KRA_Initialize returned 0: the log is open (it says why), no polling.
 *   stopped     after KRA_Finalize: no thread, no log; KRA_Initialize may start again.
 *   Each function below says what it does in each of them.
 *
 * Threads
 *   Any thread of the host may call any function at any time. Starts and stops are taken one
 *   at a time: KRA_Initialize and KRA_Finalize called at once from several threads each find the
 *   driver fully started or fully stopped. While the settings dialog is shown it holds up no
 *   start or stop; a second KRA_ConfigDialog then brings the open dialog to the front. The
 *   buffer functions and KRA_EnableDevice/KRA_DisableDevice never wait for a start or stop, and
 *   may come while the polling thread delivers a card. No function throws or raises a structured
 *   exception into the host.
 *
 * The notification
 *   For each card the driver posts (PostThreadMessage, it never waits for the host) the message
 *   NotifyMessageId with wParam = 0 and lParam = 0 to the thread HostThreadId. Use a number from
 *   WM_APP (0x8000) to 0xBFFF: those are free for applications and never sent by Windows itself.
 *   The thread needs a message queue: call PeekMessage once on it before KRA_EnableDevice (a GUI
 *   thread has one). The message carries nothing: fetch the number with KRA_GetBuffer.
 *   There is one buffer, no queue: until KRA_ClearBuffer, further cards are only logged. A card
 *   held in front of the reader is read, and delivered again, every second.
 *
 * The card number
 *   The reader's answer carries four card-number bytes, least significant first. The driver
 *   keeps the low Bits bits of that unsigned 32-bit number (Bits from the settings file:
 *   0 and 32 keep all 32 bits, 1 to 31 keep that many low bits, any other value works as 24)
 *   and hands it out as unsigned decimal digits without leading zeros.
 *   Example: the bytes 2A 01 00 00 are 0x0000012A, so the number is "298"; with Bits 8 it is
 *   "42" (0x2A).
 * ------------------------------------------------------------------------------------------
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

/* Ordinal 9. Starts the driver: reads the settings, opens the log, opens the port and starts
 * the polling thread. Delivery is off after every start: call KRA_EnableDevice after it.
 *   SettingsFileName  length-prefixed path of the host's XML settings file. A file that does not
 *                     exist (or an empty name) means the defaults: COM1, 9600 baud, Bits 0.
 *   SettingsSection   length-prefixed name of the host's element under the file's root that holds
 *                     the driver's element <KRA_MCR_Serial COM_Number= Baud= Bits=/>.
 *   LogPath           length-prefixed folder of the log, ending in a backslash: "C:\Logs\" gives
 *                     C:\Logs\kra_MCR_Serial.01.log (the name is appended with no separator).
 *   AppHandle         the host's main window (HWND): the owner of the settings dialog. May be
 *                     null: the dialog then has no owner and shows as a window of its own.
 * Returns 1 when the polling thread runs; 0 when the settings file cannot be read or parsed or
 * the port cannot be opened, with the reason in KRA_GetLastErrorText() and in the log.
 * In every state: a start while running or after a failed start first stops as KRA_Finalize
 * does, then starts anew (the port is released and opened again). It clears the card buffer,
 * switches delivery off and clears KRA_GetLastErrorText(); HostThreadId and NotifyMessageId
 * given earlier are kept. */
KRA_BOOL KRA_CALL KRA_Initialize(const unsigned char* SettingsFileName, const unsigned char* SettingsSection,
                                 const unsigned char* LogPath, void* AppHandle);

/* Ordinal 8. Stops the driver: ends the polling thread (a read in progress is cut short), closes
 * the port and then the log. Returns 1; 0 only when the stop itself failed, with the reason in
 * KRA_GetLastErrorText(). Running: stops and returns when the thread has ended. After a failed
 * start: closes the log. Before any start, or when stopped already: does nothing and returns 1.
 * A number still in the buffer stays readable until KRA_ClearBuffer or the next start.
 * Call it before FreeLibrary, and never from DllMain or while holding the loader lock. A host
 * that unloads the DLL without it does not crash: the polling thread keeps the module loaded and
 * polls on until a KRA_Finalize (after a new LoadLibrary, which finds the same module) or the
 * end of the process. */
KRA_BOOL KRA_CALL KRA_Finalize(void);

/* Ordinal 7. Switches delivery on: from now on each card read is put into the buffer (when it
 * is empty) and announced by NotifyMessageId posted to HostThreadId (see "The notification").
 * Reserved is ignored; pass 0. Always returns 1. Accepted in every state, but KRA_Initialize
 * switches delivery off again: enable after the start. Calling it again changes the thread and
 * message; it neither empties nor unlocks a filled buffer. */
KRA_BOOL KRA_CALL KRA_EnableDevice(uint32_t HostThreadId, uint32_t Reserved, uint32_t NotifyMessageId);

/* Ordinal 6. Switches delivery off: cards read are only logged. A number already in the buffer
 * stays there until KRA_ClearBuffer. Always returns 1, in every state. */
KRA_BOOL KRA_CALL KRA_DisableDevice(void);

/* Ordinal 5. The length of the buffer: the number of digits plus 1 (its NUL), or 0 when the
 * buffer is empty (also before any start). */
int32_t KRA_CALL KRA_GetInputBufferLen(void);

/* Ordinal 4. The card number in the buffer as NUL-terminated decimal digits, or null when the
 * buffer is empty. The pointer stays valid until KRA_ClearBuffer or the next KRA_Initialize:
 * copy the digits before you clear. */
const char* KRA_CALL KRA_GetBuffer(void);

/* Ordinal 3. Empties the buffer, so that the next card read is delivered. Always returns 1, also
 * on an empty buffer and in every state. */
KRA_BOOL KRA_CALL KRA_ClearBuffer(void);

/* Ordinal 2. Stores into *NameText and *DescriptionText pointers to the reader's name and
 * description (Windows-1251; the description is the name with a full stop). Both are constants
 * of the DLL, valid while it is loaded. A null argument is skipped. Works in every state. */
void KRA_CALL KRA_DeviceDescription(const char** NameText, const char** DescriptionText);

/* Ordinal 1. Shows the settings dialog (port, baud rate, significant bits) modally over the
 * AppHandle window given to KRA_Initialize, on the calling thread, and writes confirmed values to
 * the settings file under the section given there; the rest of the file is kept. New values take
 * effect at the next KRA_Initialize; a running driver keeps its port. Call it after
 * KRA_Initialize (also after a failed one): it needs the file and section the start was given.
 * Returns when the operator closes the dialog. When the confirmed values cannot be written, or
 * the file as written would not give them to the next start (the file is then put back as it
 * was), a message box over AppHandle names the file and the reason (the log has the line too). */
void KRA_CALL KRA_ConfigDialog(void);

/* Ordinal 10. The reason for the last failure of KRA_Initialize or KRA_Finalize, Windows-1251,
 * NUL-terminated; never null: "" when nothing failed (before any start, after a successful one).
 * Usual texts: "Open error \\.\COM3" (the port does not exist or another program holds it) and
 * the settings file's read or parse error. The pointer stays valid until the next
 * KRA_Initialize or KRA_Finalize; the text is not per thread. */
const char* KRA_CALL KRA_GetLastErrorText(void);

/* Ordinal 11. The device class: always 1, in every state. */
int32_t KRA_CALL KRA_GetDeviceType(void);

/* For hosts that load the DLL with LoadLibrary and take each function with GetProcAddress:
 *   PFN_KRA_Initialize init = (PFN_KRA_Initialize)GetProcAddress(dll, "KRA_Initialize"); */
typedef KRA_BOOL(KRA_CALL* PFN_KRA_Initialize)(const unsigned char* SettingsFileName,
                                                const unsigned char* SettingsSection, const unsigned char* LogPath,
                                                void* AppHandle);
typedef KRA_BOOL(KRA_CALL* PFN_KRA_Finalize)(void);
typedef KRA_BOOL(KRA_CALL* PFN_KRA_EnableDevice)(uint32_t HostThreadId, uint32_t Reserved, uint32_t NotifyMessageId);
typedef KRA_BOOL(KRA_CALL* PFN_KRA_DisableDevice)(void);
typedef int32_t(KRA_CALL* PFN_KRA_GetInputBufferLen)(void);
typedef const char*(KRA_CALL* PFN_KRA_GetBuffer)(void);
typedef KRA_BOOL(KRA_CALL* PFN_KRA_ClearBuffer)(void);
typedef void(KRA_CALL* PFN_KRA_DeviceDescription)(const char** NameText, const char** DescriptionText);
typedef void(KRA_CALL* PFN_KRA_ConfigDialog)(void);
typedef const char*(KRA_CALL* PFN_KRA_GetLastErrorText)(void);
typedef int32_t(KRA_CALL* PFN_KRA_GetDeviceType)(void);

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
