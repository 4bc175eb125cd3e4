// kra_host: a small host program for kra_MCR_Serial.dll. It loads the DLL exactly as a till or
// access-control program would (LoadLibrary, GetProcAddress by name), starts the driver, lets
// its main thread receive the card notifications and serves each one: length, buffer, clear.
// It is the README's demo host and the driver of the end-to-end tests, so its output is one
// line per event, flushed at once.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <utility>

#include "driver/kra_MCR_Serial.h"  // the declarations only: the functions come from the loaded DLL

namespace {

struct Driver {
    decltype(&KRA_Initialize) Initialize;
    decltype(&KRA_Finalize) Finalize;
    decltype(&KRA_EnableDevice) EnableDevice;
    decltype(&KRA_DisableDevice) DisableDevice;
    decltype(&KRA_GetInputBufferLen) GetInputBufferLen;
    decltype(&KRA_GetBuffer) GetBuffer;
    decltype(&KRA_ClearBuffer) ClearBuffer;
    decltype(&KRA_DeviceDescription) DeviceDescription;
    decltype(&KRA_ConfigDialog) ConfigDialog;
    decltype(&KRA_GetLastErrorText) GetLastErrorText;
    decltype(&KRA_GetDeviceType) GetDeviceType;
    decltype(&KRA_GetStatus) GetStatus;
    decltype(&KRA_GetLastErrorCode) GetLastErrorCode;
    decltype(&KRA_WaitForCard) WaitForCard;
};

const UINT kNotifyMessage = WM_USER + 1;
DWORD mainThreadId = 0;

struct Options {
    std::string dll = "kra_MCR_Serial.dll";
    std::string settings = "kra_host.xml";
    std::string section = "Devices";
    std::string log = ".\\";
    int cards = 0;           // stop after this many cards (0: no limit)
    double seconds = 0;      // stop after this long (0: until Ctrl+C)
    bool enable = true;
    bool config = false;     // run the settings dialog after the start
    bool configOnly = false; // start, run the dialog, stop: no polling wanted
    bool showWindow = false;
    bool timestamps = false;
    int cycles = 1;          // start-stop cycles in this process
    std::string target;      // "noqueue" or "nothread": whom KRA_EnableDevice names at first
    double retarget = 0;     // after this many seconds, name the main thread instead
    int race = 0;            // rounds of two threads starting and stopping at once (0: off)
    double unloadSeconds = -1;  // unload without KRA_Finalize for this long, then reload and stop
    bool status = false;     // print KRA_GetStatus at each step, and the error code
    int waiters = 0;         // threads that take the cards with KRA_WaitForCard (0: messages)
    double silence = 0;      // with --waiters: after the cards, wait this long, print the status
    int loadCycles = 0;      // LoadLibrary/KRA_GetDeviceType/FreeLibrary cycles, then exit (0: off)
    bool unloadAfterStart = false;  // start, FreeLibrary without a stop, is the log free? reload, start, stop
    double holdLog = 0;      // hold the current log file (sharing reading only) for S s around the start
};

// One whole line per call, also from several threads at once.
void Out(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    std::strcat(line, "\n");
    std::fputs(line, stdout);
    std::fflush(stdout);
}

void Usage() {
    std::puts(
        "kra_host - a host program for kra_MCR_Serial.dll\n"
        "\n"
        "usage: kra_host.exe [options]\n"
        "  --dll PATH        the driver DLL (default kra_MCR_Serial.dll)\n"
        "  --settings FILE   the host's XML settings file (default kra_host.xml)\n"
        "  --section NAME    the host's section element in it (default Devices)\n"
        "  --log DIR         folder of the driver's log; a final \\ is added when missing\n"
        "  --cards N         stop after N cards\n"
        "  --seconds S       stop after S seconds (default: run until Ctrl+C)\n"
        "  --no-enable       start the driver but never call KRA_EnableDevice\n"
        "  --config          show the settings dialog (KRA_ConfigDialog) after the start\n"
        "  --config-only     start, show the settings dialog, stop\n"
        "  --show-window     show the host's main window (the dialog's owner)\n"
        "  --timestamps      add the receive time (microseconds since 1970) to each card line\n"
        "  --cycles N        run N start-stop cycles in one process (default 1)\n"
        "  --target KIND     have the notifications posted where they cannot arrive: noqueue (a\n"
        "                    thread of the host without a message queue) or nothread (the process\n"
        "                    id, which names no thread); the host then fetches the buffer itself\n"
        "                    four times a second\n"
        "  --retarget S      after S seconds of --target, enable the main thread instead\n"
        "  --race N          two threads start and stop the driver at once, N rounds each\n"
        "                    (one starts then stops, the other stops then starts), then exit\n"
        "  --unload-without-stop S\n"
        "                    start, FreeLibrary without KRA_Finalize, go on for S seconds,\n"
        "                    load the DLL again, KRA_Finalize, FreeLibrary, exit\n"
        "  --status          print KRA_GetStatus before the start, after it and after the stop,\n"
        "                    and KRA_GetLastErrorCode after the start\n"
        "  --waiters N       no messages: N threads take the cards with KRA_WaitForCard until\n"
        "                    --cards are in. Before them, one wait that times out (300 ms) and one\n"
        "                    with a 2-byte buffer; after them, the status, and a wait that a\n"
        "                    KRA_Finalize from the main thread ends\n"
        "  --silence S       with --waiters: after the cards, wait S seconds, print the status\n"
        "  --load-cycles N   N cycles of LoadLibrary, KRA_GetDeviceType, FreeLibrary (every other\n"
        "                    one calls KRA_Finalize before FreeLibrary), then exit; no start\n"
        "  --unload-after-start\n"
        "                    start, FreeLibrary without KRA_Finalize, tell whether the log file\n"
        "                    is still open, then load again, start, stop, FreeLibrary, exit\n"
        "  --hold-log S      another opener holds the current log file (sharing reading only)\n"
        "                    from before the start until S seconds after it\n"
        "\n"
        "output, one line per event:\n"
        "  device: <type> <name>       the driver's description\n"
        "  init: ok | init: failed: <KRA_GetLastErrorText>\n"
        "  log: <file>                 where the driver writes its log\n"
        "  notify: thread <id> message <n>  what KRA_EnableDevice was given\n"
        "  card: <number> [t=<us>]     a card number received and cleared\n"
        "  polled: <number>            a card number fetched without a notification (--target)\n"
        "  finalize: ok|failed (<ms> ms)\n"
        "  race: <rounds> rounds, <n> failed starts, <n> failed stops\n"
        "  unload: done | reload: same module|another module\n"
        "  status: <when> flags=<names> com= baud= bits= error= system= read= delivered= dropped=\n"
        "  error: <KRA_GetLastErrorCode>\n"
        "  wait: time-out <result> | too small <result>, buffer <digits> | thread <k> card <number>\n"
        "      | ended by stop <result> | after stop <result>\n"
        "  cycles: <n> handles <before> <after first> <after last> tls <before> <after first> <after last>\n"
        "                              handle count and next free TLS index, before the first load,\n"
        "                              after the first cycle and after the last\n"
        "  log file: free|held         after --unload-after-start's FreeLibrary\n"
        "exit code 0 when every start and stop succeeded.");
}

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kra_host: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h" || a == "/?") { Usage(); std::exit(0); }
        else if (a == "--dll") o.dll = value("--dll");
        else if (a == "--settings") o.settings = value("--settings");
        else if (a == "--section") o.section = value("--section");
        else if (a == "--log") o.log = value("--log");
        else if (a == "--cards") o.cards = std::atoi(value("--cards"));
        else if (a == "--seconds") o.seconds = std::atof(value("--seconds"));
        else if (a == "--no-enable") o.enable = false;
        else if (a == "--config") o.config = true;
        else if (a == "--config-only") o.configOnly = true;
        else if (a == "--show-window") o.showWindow = true;
        else if (a == "--timestamps") o.timestamps = true;
        else if (a == "--cycles") o.cycles = std::atoi(value("--cycles"));
        else if (a == "--target") o.target = value("--target");
        else if (a == "--retarget") o.retarget = std::atof(value("--retarget"));
        else if (a == "--race") o.race = std::atoi(value("--race"));
        else if (a == "--unload-without-stop") o.unloadSeconds = std::atof(value("--unload-without-stop"));
        else if (a == "--status") o.status = true;
        else if (a == "--waiters") o.waiters = std::atoi(value("--waiters"));
        else if (a == "--silence") o.silence = std::atof(value("--silence"));
        else if (a == "--load-cycles") o.loadCycles = std::atoi(value("--load-cycles"));
        else if (a == "--unload-after-start") o.unloadAfterStart = true;
        else if (a == "--hold-log") o.holdLog = std::atof(value("--hold-log"));
        else {
            std::fprintf(stderr, "kra_host: unknown option %s (see --help)\n", a.c_str());
            return false;
        }
    }
    if (!o.log.empty() && o.log.back() != '\\' && o.log.back() != '/') o.log += '\\';
    if (!o.target.empty() && o.target != "noqueue" && o.target != "nothread") {
        std::fprintf(stderr, "kra_host: --target takes noqueue or nothread\n");
        return false;
    }
    return true;
}

template <typename T>
bool Bind(HMODULE dll, const char* name, T& fn) {
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!fn) std::fprintf(stderr, "kra_host: the DLL has no export %s\n", name);
    return fn != nullptr;
}

bool Load(const std::string& path, Driver& d, HMODULE* loaded = nullptr) {
    HMODULE dll = LoadLibraryA(path.c_str());
    if (loaded) *loaded = dll;
    if (!dll) {
        DWORD e = GetLastError();
        std::fprintf(stderr, "kra_host: cannot load %s (error %lu%s)\n", path.c_str(), e,
                     e == 126 ? ": the DLL or a DLL it needs is missing" : "");
        return false;
    }
    return Bind(dll, "KRA_Initialize", d.Initialize) && Bind(dll, "KRA_Finalize", d.Finalize) &&
           Bind(dll, "KRA_EnableDevice", d.EnableDevice) && Bind(dll, "KRA_DisableDevice", d.DisableDevice) &&
           Bind(dll, "KRA_GetInputBufferLen", d.GetInputBufferLen) && Bind(dll, "KRA_GetBuffer", d.GetBuffer) &&
           Bind(dll, "KRA_ClearBuffer", d.ClearBuffer) && Bind(dll, "KRA_DeviceDescription", d.DeviceDescription) &&
           Bind(dll, "KRA_ConfigDialog", d.ConfigDialog) && Bind(dll, "KRA_GetLastErrorText", d.GetLastErrorText) &&
           Bind(dll, "KRA_GetDeviceType", d.GetDeviceType) && Bind(dll, "KRA_GetStatus", d.GetStatus) &&
           Bind(dll, "KRA_GetLastErrorCode", d.GetLastErrorCode) && Bind(dll, "KRA_WaitForCard", d.WaitForCard);
}

long long NowMicros() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<long long>((t.QuadPart - 116444736000000000ULL) / 10);
}

// The driver's texts are in the ANSI code page; the demo prints UTF-8, as a Linux terminal
// (where the demo runs under Wine) shows it.
std::string AnsiToUtf8(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(m > 0 ? m : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], m, nullptr, nullptr);
    return utf8.c_str();
}

BOOL WINAPI OnConsoleControl(DWORD) {
    PostThreadMessageA(mainThreadId, WM_QUIT, 0, 0);
    return TRUE;
}

HWND CreateMainWindow(bool show) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "kra_host";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&wc);
    HWND w = CreateWindowA("kra_host", "kra_host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 200,
                           nullptr, nullptr, wc.hInstance, nullptr);
    if (w && show) ShowWindow(w, SW_SHOW);
    return w;
}

void Enable(const Driver& d, DWORD thread) {
    d.EnableDevice(thread, 0, kNotifyMessage);
    Out("notify: thread %lu message %u", thread, kNotifyMessage);
}

// A thread that never calls a window function has no message queue: posts to it fail.
DWORD WINAPI WaitWithoutQueue(void* stop) {
    WaitForSingleObject(stop, INFINITE);
    return 0;
}

// Serves notifications until the card count or the time is reached, or Ctrl+C. With a target
// that gets no notifications, fetches the buffer itself until --retarget names the main thread.
int ServeCards(const Driver& d, const Options& o, DWORD target) {
    int received = 0;
    DWORD start = GetTickCount();
    bool fetching = target != GetCurrentThreadId();
    for (;;) {
        DWORD timeout = INFINITE;
        const DWORD spent = GetTickCount() - start;
        if (o.seconds > 0) {
            DWORD limit = static_cast<DWORD>(o.seconds * 1000);
            if (spent >= limit) break;
            timeout = limit - spent;
        }
        if (fetching) {
            if (o.retarget > 0 && spent >= static_cast<DWORD>(o.retarget * 1000)) {
                fetching = false;
                Enable(d, GetCurrentThreadId());
                continue;
            }
            if (d.GetInputBufferLen() > 0) {
                const char* buffer = d.GetBuffer();
                Out("polled: %s", buffer ? buffer : "");
                d.ClearBuffer();
            }
            if (timeout > 250) timeout = 250;
        }
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout, QS_ALLINPUT) == WAIT_TIMEOUT) {
            if (fetching) continue;
            break;
        }
        MSG msg;
        bool quit = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            if (msg.hwnd == nullptr && msg.message == kNotifyMessage) {
                long long t = NowMicros();
                int32_t length = d.GetInputBufferLen();
                const char* buffer = d.GetBuffer();
                if (!buffer) continue;  // a repeated notification of a card served already
                std::string number = buffer;
                d.ClearBuffer();
                if (o.timestamps)
                    Out("card: %s t=%lld", number.c_str(), t);
                else
                    Out("card: %s", number.c_str());
                if (length != static_cast<int32_t>(number.size()) + 1)
                    Out("warning: buffer length %d for %u digits", length, unsigned(number.size()));
                if (o.cards > 0 && ++received >= o.cards) quit = true;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (quit) break;
    }
    return received;
}

void PrintStatus(const Driver& d, const char* when) {
    KRA_STATUS s;
    std::memset(&s, 0, sizeof s);
    s.Size = sizeof s;
    if (!d.GetStatus(&s)) {
        Out("status: %s failed", when);
        return;
    }
    static const char* const names[] = {"RUNNING", "SETTINGS_FILE", "PORT_OPEN", "READER_ANSWERS",
                                        "LOG_OPEN", "ENABLED", "BUFFER_FULL", "POST_FAILING"};
    std::string flags;
    for (unsigned bit = 0; bit < 8; ++bit)
        if (s.Flags & (1u << bit)) flags += (flags.empty() ? "" : "|") + std::string(names[bit]);
    if (s.Flags >> 8) flags += (flags.empty() ? "" : "|") + std::to_string(s.Flags >> 8 << 8);
    Out("status: %s flags=%s com=%d baud=%d bits=%d error=%u system=%u read=%u delivered=%u dropped=%u", when,
        flags.empty() ? "0" : flags.c_str(), int(s.COM_Number), int(s.Baud), int(s.Bits), unsigned(s.LastError),
        unsigned(s.SystemError), unsigned(s.CardsRead), unsigned(s.CardsDelivered), unsigned(s.CardsDropped));
}

// The threads of --waiters: each takes cards until the wanted number is in or the driver stops.
struct WaitShared {
    const Driver* d;
    int wanted;
    volatile LONG taken;
    DWORD until;  // GetTickCount() limit, 0: none
};
struct WaitSide {
    WaitShared* shared;
    int index;
};

DWORD WINAPI TakeCards(LPVOID arg) {
    WaitSide& side = *static_cast<WaitSide*>(arg);
    WaitShared& s = *side.shared;
    while (InterlockedCompareExchange(&s.taken, 0, 0) < s.wanted) {
        if (s.until && static_cast<LONG>(s.until - GetTickCount()) <= 0) break;
        char number[11];
        const int32_t digits = s.d->WaitForCard(250, number, sizeof number);
        if (digits < 0) break;
        if (digits == 0) continue;
        InterlockedIncrement(&s.taken);
        Out("wait: thread %d card %s", side.index, number);
    }
    return 0;
}

struct StopWait {
    const Driver* d;
    int32_t result;
};

DWORD WINAPI WaitUntilStopped(LPVOID arg) {
    StopWait& w = *static_cast<StopWait*>(arg);
    char number[11];
    w.result = w.d->WaitForCard(INFINITE, number, sizeof number);
    return 0;
}

// A host without a message loop: the cards come through KRA_WaitForCard on threads of its own.
void ServeByWaiting(const Driver& d, const Options& o) {
    char number[11];
    Out("wait: time-out %d", int(d.WaitForCard(300, number, sizeof number)));
    char small[2];
    const int32_t tooSmall = d.WaitForCard(10000, small, sizeof small);
    const char* kept = d.GetBuffer();
    Out("wait: too small %d, buffer %s", int(tooSmall), kept ? kept : "(empty)");

    WaitShared shared = {&d, o.cards > 0 ? o.cards : 1, 0,
                         o.seconds > 0 ? GetTickCount() + static_cast<DWORD>(o.seconds * 1000) : 0};
    std::vector<WaitSide> sides(o.waiters);
    std::vector<HANDLE> threads;
    for (int i = 0; i < o.waiters; ++i) {
        sides[i] = {&shared, i + 1};
        threads.push_back(CreateThread(nullptr, 0, TakeCards, &sides[i], 0, nullptr));
    }
    WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    if (o.status) PrintStatus(d, "working");
    if (o.silence > 0) {
        Sleep(static_cast<DWORD>(o.silence * 1000));
        if (o.status) PrintStatus(d, "silent");
    }

    StopWait w = {&d, 99};
    HANDLE waiter = CreateThread(nullptr, 0, WaitUntilStopped, &w, 0, nullptr);
    Sleep(300);
    d.Finalize();
    WaitForSingleObject(waiter, INFINITE);
    CloseHandle(waiter);
    Out("wait: ended by stop %d", int(w.result));
}

struct Texts {
    std::string file, section, log;
    explicit Texts(const Options& o)
        : file(kra::LengthPrefixed(o.settings)), section(kra::LengthPrefixed(o.section)), log(kra::LengthPrefixed(o.log)) {}
    bool Start(const Driver& d, HWND window) const {
        return d.Initialize(reinterpret_cast<const unsigned char*>(file.data()),
                            reinterpret_cast<const unsigned char*>(section.data()),
                            reinterpret_cast<const unsigned char*>(log.data()), window) != 0;
    }
};

// Two host threads that start and stop the driver at the same time: one starts then stops, the
// other stops then starts, so stops meet stops and restarts meet stops.
struct RaceSide {
    const Driver* d;
    const Texts* texts;
    HWND window;
    int rounds;
    bool startFirst;
    LONG failedStarts, failedStops;
};

DWORD WINAPI RaceRounds(LPVOID arg) {
    RaceSide& s = *static_cast<RaceSide*>(arg);
    for (int i = 0; i < s.rounds; ++i)
        for (int step = 0; step < 2; ++step) {
            if ((step == 0) == s.startFirst) {
                if (!s.texts->Start(*s.d, s.window)) ++s.failedStarts;
            } else if (!s.d->Finalize()) {
                ++s.failedStops;
            }
        }
    return 0;
}

int Race(const Driver& d, const Options& o, HWND window) {
    const Texts texts(o);
    RaceSide sides[2] = {{&d, &texts, window, o.race, true, 0, 0}, {&d, &texts, window, o.race, false, 0, 0}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) threads[i] = CreateThread(nullptr, 0, RaceRounds, &sides[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    const bool stopped = d.Finalize() != 0;
    const LONG failedStarts = sides[0].failedStarts + sides[1].failedStarts;
    const LONG failedStops = sides[0].failedStops + sides[1].failedStops + (stopped ? 0 : 1);
    Out("race: %d rounds, %ld failed starts, %ld failed stops", o.race, failedStarts, failedStops);
    if (failedStarts || failedStops) Out("last error: %s", AnsiToUtf8(d.GetLastErrorText()).c_str());
    return failedStarts || failedStops ? 1 : 0;
}

// What a host does on a crash path or in a plug-in unloader: FreeLibrary while the driver runs.
// The process goes on; the driver is stopped later through a new LoadLibrary of the same DLL.
int UnloadWithoutStop(Driver& d, const Options& o, HMODULE dll, HWND window) {
    const Texts texts(o);
    const bool started = texts.Start(d, window);
    if (started)
        Out("init: ok");
    else
        Out("init: failed: %s", AnsiToUtf8(d.GetLastErrorText()).c_str());
    FreeLibrary(dll);
    Out("unload: done");
    const DWORD until = GetTickCount() + static_cast<DWORD>(o.unloadSeconds * 1000);
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(20);
    }
    HMODULE again = nullptr;
    if (!Load(o.dll, d, &again)) return 3;
    Out("reload: %s", again == dll ? "same module" : "another module");
    const bool stopped = d.Finalize() != 0;
    if (stopped)
        Out("finalize: ok");
    else
        Out("finalize: failed: %s", AnsiToUtf8(d.GetLastErrorText()).c_str());
    FreeLibrary(again);
    return started && stopped ? 0 : 1;
}


// What a long-running host that loads its drivers on demand does: load, ask, unload, again and
// again, sometimes with a stop before the unload. What the process holds must not grow.
// The handles this process holds: GetProcessHandleCount where it works, else the system's handle
// table (Wine answers the former with 0) counted for this process.
DWORD HandleCount() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0) return n;
    struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX
        void* object;
        ULONG_PTR pid, handle;
        ULONG access;
        USHORT creatorBackTraceIndex, objectTypeIndex;
        ULONG attributes, reserved;
    };
    struct Table {
        ULONG_PTR count, reserved;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    std::string buffer(1 << 20, '\0');
    ULONG needed = 0;
    for (int tries = 0; tries < 8; ++tries) {
        const LONG status = query(64 /* SystemExtendedHandleInformation */, &buffer[0], ULONG(buffer.size()), &needed);
        if (status == 0) break;
        if (status != LONG(0xC0000004) /* STATUS_INFO_LENGTH_MISMATCH */) return 0;
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const ULONG_PTR self = GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < table->count; ++i)
        if (table->entries[i].pid == self) ++n;
    return n;
}

DWORD NextTlsIndex() {  // the index the next TlsAlloc would give: it climbs when indexes leak
    const DWORD i = TlsAlloc();
    if (i != TLS_OUT_OF_INDEXES) TlsFree(i);
    return i;
}

int LoadCycles(const Options& o) {
    const DWORD handles0 = HandleCount(), tls0 = NextTlsIndex();
    DWORD handles1 = 0, tls1 = 0;
    for (int i = 0; i < o.loadCycles; ++i) {
        Driver d;
        HMODULE dll = nullptr;
        if (!Load(o.dll, d, &dll)) {
            Out("cycles: failed to load at cycle %d", i + 1);
            return 3;
        }
        if (d.GetDeviceType() != 1) Out("warning: device type %d", d.GetDeviceType());
        if (i % 2 == 1 && !d.Finalize()) Out("warning: finalize failed at cycle %d", i + 1);
        FreeLibrary(dll);
        if (i == 0) {
            handles1 = HandleCount();
            tls1 = NextTlsIndex();
        }
    }
    Out("cycles: %d handles %lu %lu %lu tls %lu %lu %lu", o.loadCycles, handles0, handles1, HandleCount(), tls0, tls1,
        NextTlsIndex());
    return 0;
}

std::string CurrentLogFile(const Options& o) { return o.log + "kra_MCR_Serial.01.log"; }

// A start, then FreeLibrary without KRA_Finalize (a host's error path). Whether the driver still
// holds its log shows in whether the file can be opened with no sharing at all.
int UnloadAfterStart(Driver& d, const Options& o, HMODULE dll, HWND window) {
    const Texts texts(o);
    Out(texts.Start(d, window) ? "init: ok" : "init: failed");
    FreeLibrary(dll);
    Out("unload: done");
    HANDLE h = CreateFileA(CurrentLogFile(o).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Out("log file: %s", h == INVALID_HANDLE_VALUE ? "held" : "free");
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    HMODULE again = nullptr;
    if (!Load(o.dll, d, &again)) return 3;
    Out(texts.Start(d, window) ? "init: ok" : "init: failed");
    const bool stopped = d.Finalize() != 0;
    Out(stopped ? "finalize: ok" : "finalize: failed");
    FreeLibrary(again);
    return stopped ? 0 : 1;
}

// Another program that has the log open for reading and lets nobody write it (a viewer, a backup).
DWORD WINAPI ReleaseAfter(void* arg) {
    auto* hold = static_cast<std::pair<HANDLE, DWORD>*>(arg);
    Sleep(hold->second);
    CloseHandle(hold->first);
    Out("log hold: released");
    delete hold;
    return 0;
}

void HoldLog(const Options& o) {
    HANDLE h = CreateFileA(CurrentLogFile(o).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Out("log hold: failed (error %lu)", GetLastError());
        return;
    }
    Out("log hold: held");
    auto* hold = new std::pair<HANDLE, DWORD>(h, static_cast<DWORD>(o.holdLog * 1000));
    CloseHandle(CreateThread(nullptr, 0, ReleaseAfter, hold, 0, nullptr));
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) return 2;
    if (o.loadCycles > 0) return LoadCycles(o);  // before any load of our own
    Driver d;
    HMODULE dll = nullptr;
    if (!Load(o.dll, d, &dll)) return 3;

    mainThreadId = GetCurrentThreadId();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the notifications' queue
    HWND window = CreateMainWindow(o.showWindow);

    const char* name = nullptr;
    const char* description = nullptr;
    d.DeviceDescription(&name, &description);
    Out("device: %d %s", d.GetDeviceType(), AnsiToUtf8(name ? name : "").c_str());

    if (o.status) PrintStatus(d, "before-start");
    if (o.race > 0) return Race(d, o, window);
    if (o.unloadSeconds >= 0) return UnloadWithoutStop(d, o, dll, window);
    if (o.unloadAfterStart) return UnloadAfterStart(d, o, dll, window);
    if (o.holdLog > 0) HoldLog(o);

    bool allOk = true;
    for (int cycle = 0; cycle < (o.cycles < 1 ? 1 : o.cycles); ++cycle) {
        std::string file = kra::LengthPrefixed(o.settings), section = kra::LengthPrefixed(o.section),
                    log = kra::LengthPrefixed(o.log);
        bool started = d.Initialize(reinterpret_cast<const unsigned char*>(file.data()),
                                    reinterpret_cast<const unsigned char*>(section.data()),
                                    reinterpret_cast<const unsigned char*>(log.data()), window) != 0;
        if (started)
            Out("init: ok");
        else
            Out("init: failed: %s", AnsiToUtf8(d.GetLastErrorText()).c_str());
        allOk = allOk && started;
        Out("log: %skra_MCR_Serial.01.log", o.log.c_str());
        if (o.status) {
            Out("error: %u", unsigned(d.GetLastErrorCode()));
            PrintStatus(d, "after-start");
        }

        if (o.config || o.configOnly) {
            d.ConfigDialog();
            Out("config: done");
        }
        if (started && !o.configOnly) {
            DWORD target = GetCurrentThreadId();
            HANDLE stop = nullptr, waiter = nullptr;
            if (o.target == "noqueue") {
                stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
                waiter = CreateThread(nullptr, 0, WaitWithoutQueue, stop, 0, &target);
            } else if (o.target == "nothread") {
                target = GetCurrentProcessId();  // process and thread ids never coincide
            }
            if (o.waiters > 0)
                ServeByWaiting(d, o);
            else if (o.enable)
                Enable(d, target);
            if (o.waiters <= 0) ServeCards(d, o, o.enable ? target : GetCurrentThreadId());
            d.DisableDevice();
            if (waiter) {
                SetEvent(stop);
                WaitForSingleObject(waiter, INFINITE);
                CloseHandle(waiter);
            }
            if (stop) CloseHandle(stop);
        }
        DWORD t0 = GetTickCount();
        bool stopped = d.Finalize() != 0;
        DWORD ms = GetTickCount() - t0;
        if (stopped)
            Out("finalize: ok (%lu ms)", ms);
        else
            Out("finalize: failed: %s (%lu ms)", AnsiToUtf8(d.GetLastErrorText()).c_str(), ms);
        allOk = allOk && stopped;
        if (o.status) PrintStatus(d, "after-stop");
        if (o.waiters > 0) {
            char number[11];
            Out("wait: after stop %d", int(d.WaitForCard(0, number, sizeof number)));
        }
    }
    if (window) DestroyWindow(window);
    return allOk ? 0 : 1;
}
