/* kra_MCR_Serial.h: the host's reference to kra_MCR_Serial.dll 1.1, the driver of a contactless
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
 *   Without a message loop (a service, a console program, a worker thread): instead of 2 and 3,
 *   KRA_WaitForCard(timeout, buffer, size) on any thread returns each card's digits.
 *   KRA_GetStatus(&status) and KRA_GetLastErrorCode() tell the host how the driver is.
 *
 * Calling convention and types
 *   - Every function is __stdcall and exported under its plain name (ordinals 1 to 14, given
 *     with each; 12 to 14 since 1.1). Link kra_MCR_Serial.lib, or take the functions with GetProcAddress by name
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
 *   buffer functions, KRA_EnableDevice/KRA_DisableDevice, KRA_GetStatus, KRA_GetLastErrorCode
 *   and KRA_WaitForCard never wait for a start or stop (a stop ends a wait), and may come while
 *   the polling thread delivers a card. No function throws or raises a structured
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
 *   A notification may repeat for the same number: while the buffer holds a number the host has
 *   not cleared, each poll that reads a card posts the notification again for the buffered
 *   number, and KRA_EnableDevice posts it at once to its new thread. So a notification that was
 *   lost (a modal loop such as a MessageBox drops thread messages; a wrong thread id corrected
 *   later) costs a second, never the reader. Serve each notification by reading, then clearing;
 *   one that finds the buffer empty (KRA_GetBuffer returns null) was served already: ignore it.
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

/* The version of the DLL this header describes: the same as the DLL's version resource
 * (FileVersion, ProductVersion) and its log line "kra_MCR_Serial <version>, 32-bit". A host can
 * test it at compile time, e.g. #if KRA_VERSION_MAJOR > 1 || KRA_VERSION_MINOR >= 1. */
#define KRA_VERSION_MAJOR 1
#define KRA_VERSION_MINOR 1
#define KRA_VERSION_PATCH 0
#define KRA_VERSION_STRING "1.1.0"

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
 * end of the process. A driver that is not running holds no handle of its log. The first
 * LoadLibrary keeps the DLL loaded until the process ends (its runtime's thread-local storage
 * and handles are made once, not lost with each unload): FreeLibrary and a later LoadLibrary
 * only count, and the DLL file stays in use until the host exits. */
KRA_BOOL KRA_CALL KRA_Finalize(void);

/* Ordinal 7. Switches delivery on: from now on each card read is put into the buffer (when it
 * is empty) and announced by NotifyMessageId posted to HostThreadId (see "The notification").
 * Reserved is ignored; pass 0. Always returns 1. Accepted in every state, but KRA_Initialize
 * switches delivery off again: enable after the start. Calling it again changes the thread and
 * message; it neither empties nor unlocks a filled buffer, and when the buffer holds a number it
 * posts the notification for it at once to the (new) thread. */
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

/* ------------------------------------------------------------------------------------------
 * Since 1.1: the driver's status, a numbered error, cards without a message loop.
 * ------------------------------------------------------------------------------------------ */

/* What KRA_GetStatus fills in: 40 bytes in both DLLs (only 32-bit fields). Set Size before the
 * call; a later version may append fields, and the driver fills only the Size bytes the caller
 * knows. */
typedef struct KRA_STATUS {
    uint32_t Size;           /* set by the caller to sizeof(KRA_STATUS) before the call */
    uint32_t Flags;          /* KRA_STATUS_* bits below */
    int32_t  COM_Number;     /* the settings in effect since the last start (after any default) */
    int32_t  Baud;
    int32_t  Bits;
    uint32_t LastError;      /* as KRA_GetLastErrorCode() */
    uint32_t SystemError;    /* the Windows error code behind the last failure of a start, an open,
                                a write, a reopen or a post; 0 when there is none */
    uint32_t CardsRead;      /* card numbers read from the reader since the last start */
    uint32_t CardsDelivered; /* of these, put into the buffer for the host */
    uint32_t CardsDropped;   /* of these, not put into the buffer (buffer full, delivery off) */
} KRA_STATUS;

#define KRA_STATUS_RUNNING        0x01u  /* started, not stopped */
#define KRA_STATUS_SETTINGS_FILE  0x02u  /* all three settings were read from the file (clear when any default was used) */
#define KRA_STATUS_PORT_OPEN      0x04u
#define KRA_STATUS_READER_ANSWERS 0x08u  /* the last finished poll got a well-formed answer frame */
#define KRA_STATUS_LOG_OPEN       0x10u
#define KRA_STATUS_ENABLED        0x20u  /* KRA_EnableDevice in effect */
#define KRA_STATUS_BUFFER_FULL    0x40u
#define KRA_STATUS_POST_FAILING   0x80u  /* the last notification could not be posted */

/* The classes of KRA_GetLastErrorCode(), each with the KRA_GetLastErrorText() texts it goes with
 * (<path> is the settings file's full path; the XML messages are Russian, see the README). */
#define KRA_ERROR_NONE            0u  /* "": nothing failed */
#define KRA_ERROR_SETTINGS_SYNTAX 1u  /* the settings file does not parse: an XML parser message followed by
                                         " (<path>, line L, column C)", or a binary-form message followed by
                                         " (<path>, byte N)" */
#define KRA_ERROR_SETTINGS_VALUE  2u  /* a settings value is not a number: "Could not convert variant of type
                                         (String) into type (Integer) (<path>: Baud="fast")", or "Overflow while
                                         converting variant of type (...) into type (Integer) (<path>: ...)" */
#define KRA_ERROR_SETTINGS_FILE   3u  /* the settings file exists but cannot be read (a folder, a file held
                                         without read sharing, no access): "Cannot open file "<path>".
                                         <system text>" or "Cannot read file "<path>". <system text>" */
#define KRA_ERROR_PORT_OPEN       4u  /* the port cannot be opened: "Open error \\.\COM<n>" (the log and
                                         KRA_STATUS.SystemError say why: 2 no such port, 5 held elsewhere) */
#define KRA_ERROR_NO_MEMORY       5u  /* out of memory: the runtime's text, such as "std::bad_alloc" */
#define KRA_ERROR_INTERNAL        6u  /* anything else: the failure's own text, "Unknown error" when it has none */

/* Ordinal 12. Fills *Status with the driver's state and figures. Returns 0 for a null pointer or
 * a Size below 8; otherwise fills the first min(Size, sizeof(KRA_STATUS)) bytes (Size is left as
 * the caller set it) and returns 1. Any thread, any state, any time: it never waits for a start,
 * a stop or an open settings dialog, and the figures of one call agree with each other.
 *   before any start  all zero but Size.
 *   running           the figures of this run; CardsRead = CardsDelivered + CardsDropped, where a
 *                     card held on the reader counts once per poll and a repeated notification
 *                     counts nothing. SystemError is reset by each start.
 *   start failed      LastError and LOG_OPEN say why and where; the settings figures when the
 *                     file was read (0 when it could not be).
 *   stopped           the figures and counts of the last run; Flags keeps only SETTINGS_FILE and
 *                     BUFFER_FULL (the buffer stays readable until cleared). */
KRA_BOOL KRA_CALL KRA_GetStatus(KRA_STATUS* Status);

/* Ordinal 13. The class (KRA_ERROR_* above) of the failure whose text KRA_GetLastErrorText()
 * holds: 0 exactly when that text is empty. Never waits for a start or a stop. */
uint32_t KRA_CALL KRA_GetLastErrorCode(void);

/* Ordinal 14. Waits on the calling thread until the buffer holds a card, TimeoutMs passes
 * (0xFFFFFFFF: no limit; 0: only looks) or the driver stops. No message queue is needed.
 *   > 0  a card: its digits and a terminating NUL are in Buffer and the buffer is cleared, as
 *        KRA_ClearBuffer does; the result is the number of digits.
 *   0    the time-out passed without a card.
 *   -1   the driver does not run (before a start, after a failed start, after a stop, also when
 *        a number is still in the buffer: KRA_GetBuffer reads it), or it stopped during the wait
 *        (KRA_Finalize or KRA_Initialize from another thread end the wait at once).
 *   -2   Buffer is null or BufferSize below 1 (at once), or the card's digits and NUL do not fit
 *        in BufferSize bytes: the card stays in the buffer (11 bytes take every number).
 * While at least one thread waits, cards are put into the buffer as if KRA_EnableDevice were in
 * effect; a message is posted only when it is. Use one way or the other. Several threads may
 * wait at once: each card goes to exactly one of them. */
int32_t KRA_CALL KRA_WaitForCard(uint32_t TimeoutMs, char* Buffer, int32_t BufferSize);

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
typedef KRA_BOOL(KRA_CALL* PFN_KRA_GetStatus)(KRA_STATUS* Status);
typedef uint32_t(KRA_CALL* PFN_KRA_GetLastErrorCode)(void);
typedef int32_t(KRA_CALL* PFN_KRA_WaitForCard)(uint32_t TimeoutMs, char* Buffer, int32_t BufferSize);

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
