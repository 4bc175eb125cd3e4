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
};

void Out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
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
        "\n"
        "output, one line per event:\n"
        "  device: <type> <name>       the driver's description\n"
        "  init: ok | init: failed: <KRA_GetLastErrorText>\n"
        "  log: <file>                 where the driver writes its log\n"
        "  card: <number> [t=<us>]     a card number received and cleared\n"
        "  finalize: ok|failed (<ms> ms)\n"
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
        else {
            std::fprintf(stderr, "kra_host: unknown option %s (see --help)\n", a.c_str());
            return false;
        }
    }
    if (!o.log.empty() && o.log.back() != '\\' && o.log.back() != '/') o.log += '\\';
    return true;
}

template <typename T>
bool Bind(HMODULE dll, const char* name, T& fn) {
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!fn) std::fprintf(stderr, "kra_host: the DLL has no export %s\n", name);
    return fn != nullptr;
}

bool Load(const std::string& path, Driver& d) {
    HMODULE dll = LoadLibraryA(path.c_str());
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
           Bind(dll, "KRA_GetDeviceType", d.GetDeviceType);
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

// Serves notifications until the card count or the time is reached, or Ctrl+C.
int ServeCards(const Driver& d, const Options& o) {
    int received = 0;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD timeout = INFINITE;
        if (o.seconds > 0) {
            DWORD limit = static_cast<DWORD>(o.seconds * 1000), spent = GetTickCount() - start;
            if (spent >= limit) break;
            timeout = limit - spent;
        }
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout, QS_ALLINPUT) == WAIT_TIMEOUT) break;
        MSG msg;
        bool quit = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            if (msg.hwnd == nullptr && msg.message == kNotifyMessage) {
                long long t = NowMicros();
                int32_t length = d.GetInputBufferLen();
                const char* buffer = d.GetBuffer();
                std::string number = buffer ? buffer : "";
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

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) return 2;
    Driver d;
    if (!Load(o.dll, d)) return 3;

    mainThreadId = GetCurrentThreadId();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the notifications' queue
    HWND window = CreateMainWindow(o.showWindow);

    const char* name = nullptr;
    const char* description = nullptr;
    d.DeviceDescription(&name, &description);
    Out("device: %d %s", d.GetDeviceType(), AnsiToUtf8(name ? name : "").c_str());

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

        if (o.config || o.configOnly) {
            d.ConfigDialog();
            Out("config: done");
        }
        if (started && !o.configOnly) {
            if (o.enable) d.EnableDevice(GetCurrentThreadId(), 0, kNotifyMessage);
            ServeCards(d, o);
            d.DisableDevice();
        }
        DWORD t0 = GetTickCount();
        bool stopped = d.Finalize() != 0;
        DWORD ms = GetTickCount() - t0;
        if (stopped)
            Out("finalize: ok (%lu ms)", ms);
        else
            Out("finalize: failed: %s (%lu ms)", AnsiToUtf8(d.GetLastErrorText()).c_str(), ms);
        allOk = allOk && stopped;
    }
    if (window) DestroyWindow(window);
    return allOk ? 0 : 1;
}
