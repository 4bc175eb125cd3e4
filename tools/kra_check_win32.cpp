// kra_check: the technician's tool for setting up a reader on site. It lists the serial ports,
// polls a port the way the driver does and shows each answer, finds the port and speed a reader
// answers on, and writes the three values into the host's settings file. It is built from the
// driver's own reader and settings code: the poll frame, the time-outs, the answer rules, the
// bits rule, the per-port claim and the settings store are the ones the DLL uses.
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Serial.h"
#include "reader/Reader_Poll.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsUnit.h"

namespace {

// Exit codes, as the README lists them.
constexpr int ExitOk = 0;        // done; a reader answered (probe, find)
constexpr int ExitNoReader = 1;  // no reader answered
constexpr int ExitFailed = 2;    // the port could not be opened (probe); the file not saved (save)
constexpr int ExitUsage = 3;     // the command line is not understood

constexpr uint32_t PollPauseMs = 1000;  // the driver's pause between two polls
constexpr int FindPolls = 2;

// One line to standard output, at once. Windows' own texts (its error messages) are in the ANSI
// code page; a console shows the OEM one, so they are converted for a console and left as they
// are for a file or a pipe.
void Out(const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR)
        CharToOemBuffA(line, line, static_cast<DWORD>(std::strlen(line)));
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const char MainHelp[] =
    "kra_check - set up a card reader for kra_MCR_Serial.dll\n"
    "\n"
    "usage: kra_check COMMAND [options]      (kra_check COMMAND --help for each)\n"
    "  ports                          list the serial ports of this computer\n"
    "  probe COMn [--baud B] [--bits N] [--polls K]\n"
    "                                 poll a port as the driver does, one line per poll\n"
    "  find [--ports LIST] [--bauds LIST]\n"
    "                                 find the port and speed a reader answers on\n"
    "  save FILE [--section S] COMn B [N]\n"
    "                                 write port, baud rate and bits into the host's settings file\n"
    "\n"
    "exit codes: 0 done (a reader answered), 1 no reader answered, 2 the port could not be\n"
    "opened or the file not saved, 3 the command line is not understood.";

const char PortsHelp[] =
    "usage: kra_check ports\n"
    "\n"
    "One line per serial port the system lists in its device map (HARDWARE\\DEVICEMAP\\SERIALCOMM):\n"
    "the port's name, then the device's name where the system gives one. Sends nothing to any\n"
    "port. Exit 0.";

const char ProbeHelp[] =
    "usage: kra_check probe COMn [--baud B] [--bits N] [--polls K]\n"
    "\n"
    "Opens the port as the driver does (8N1, the driver's time-outs) at B baud (default 9600),\n"
    "sends the poll frame K times (default 5), once a second, and prints one line per poll as\n"
    "it happens:\n"
    "  poll 1: card 298          a card, with the low N bits kept as the driver delivers it\n"
    "                            (default 0: all 32)\n"
    "  poll 2: no card           the reader answered: no card in the field\n"
    "  poll 3: no answer         nothing came back\n"
    "  poll 4: bad answer (<what was wrong>): <the bytes in hex>\n"
    "A running driver (or kra_check) on the port makes it busy: stop the host first.\n"
    "Exit 0 when the reader answered at least once, 1 when it never did, 2 when the port cannot\n"
    "be opened or does not take the speed (the line says why), 3 for a wrong command line.";

const char FindHelp[] =
    "usage: kra_check find [--ports LIST] [--bauds LIST]\n"
    "\n"
    "Sends the poll frame to every port of the list (default: every port 'kra_check ports'\n"
    "shows) at each speed of the list (default: 9600, then the other 14 rates the settings\n"
    "dialog offers), two polls each with the driver's answer time-out, and stops at the first\n"
    "answer. Other devices on those ports (a printer, a scale, a display) receive the poll\n"
    "frame too: name the ports with --ports where that matters. Ports that are missing or busy\n"
    "(another program, a running driver or kra_check holds them) are listed and skipped.\n"
    "LIST: numbers or names, with ranges: --ports 1-16, --ports COM3,COM5; --bauds 9600,19200.\n"
    "Prints a line per port and speed tried, then 'found COMn at B baud' (exit 0) or 'no reader\n"
    "found' (exit 1); 3 for a wrong command line.";

const char SaveHelp[] =
    "usage: kra_check save FILE [--section S] COMn B [N]\n"
    "\n"
    "Writes port n, baud rate B and bits N into the host's XML settings file FILE, element\n"
    "KRA_MCR_Serial in section S (default Devices), through the driver's own settings store:\n"
    "the rest of the file is kept byte for byte, the file is replaced in one step and read back.\n"
    "Without N the file's bits stay (0 where it has none). Takes what the settings dialog\n"
    "offers: ports 1 to 255, its 15 baud rates, bits 0 to 32. Prints each value with what it\n"
    "was. Exit 0; 2 when the file cannot be read, parsed or written (the line says why); 3 for\n"
    "a wrong command line. The driver takes the new values at its next start.";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "5", "COM5", "com5", "\\.\COM5" -> 5.
int32_t PortNumberOf(std::string text) {
    if (text.rfind("\\\\.\\", 0) == 0) text = text.substr(4);
    if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm'))
        text = text.substr(3);
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || n < MinPort || n > MaxPort)
        throw UsageError("not a port (COM1 to COM255): " + text);
    return static_cast<int32_t>(n);
}

int32_t NumberOf(const std::string& text, const char* what, long low, long high) {
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || n < low || n > high)
        throw UsageError(std::string("not ") + what + ": " + text);
    return static_cast<int32_t>(n);
}

int32_t BaudOf(const std::string& text) {
    const int32_t baud = NumberOf(text, "a baud rate", 1, 0x7FFFFFFF);
    if (std::find(BaudRates.begin(), BaudRates.end(), baud) == BaudRates.end())
        throw UsageError("not one of the settings dialog's baud rates (110 ... 256000): " + text);
    return baud;
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        if (comma > start) items.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    if (items.empty()) throw UsageError("an empty list");
    return items;
}

std::vector<int32_t> PortList(const std::string& list) {
    std::vector<int32_t> ports;
    for (const std::string& item : SplitList(list)) {
        const size_t dash = item.find('-');
        int32_t first = PortNumberOf(item.substr(0, dash)), last = first;
        if (dash != std::string::npos) last = PortNumberOf(item.substr(dash + 1));
        if (last < first) throw UsageError("a range from high to low: " + item);
        for (int32_t n = first; n <= last; ++n)
            if (std::find(ports.begin(), ports.end(), n) == ports.end()) ports.push_back(n);
    }
    return ports;
}

std::string ComName(int32_t n) { return "COM" + std::to_string(n); }

// The serial ports of the device map, by number, with the device's friendly name where the
// system has one ("USB-SERIAL CH340 (COM5)").
std::map<int32_t, std::string> SystemPorts() {
    std::map<int32_t, std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[256], data[256];
            DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
            LONG r = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r != ERROR_SUCCESS || type != REG_SZ) continue;
            data[dataSize] = 0;
            try {
                ports.emplace(PortNumberOf(data), "");
            } catch (const UsageError&) {
                // a port that is no COMn cannot be named in the settings file
            }
        }
        RegCloseKey(key);
    }
    HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
            HKEY deviceKey = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (deviceKey == INVALID_HANDLE_VALUE) continue;
            char portName[64] = {};
            DWORD size = sizeof portName - 1, type = 0;
            const bool named = RegQueryValueExA(deviceKey, "PortName", nullptr, &type,
                                                reinterpret_cast<BYTE*>(portName), &size) == ERROR_SUCCESS;
            RegCloseKey(deviceKey);
            char friendly[256] = {};
            if (!named || !SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                            reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1,
                                                            nullptr))
                continue;
            try {
                ports[PortNumberOf(portName)] = friendly;
            } catch (const UsageError&) {
            }
        }
        SetupDiDestroyDeviceInfoList(devices);
    }
    return ports;
}

// The port as the driver opens it; the write error of the last poll is kept for its line.
class PortLink : public IByteLink {
public:
    platform::SerialPort Port;
    uint32_t WriteError = 0;
    uint32_t ReadPort(void* buffer, uint32_t count) override { return Port.Read(buffer, count); }
    bool WritePort(const void* bytes, uint32_t count) override { return Port.Write(bytes, count, &WriteError); }
};

// Another program, the driver or kra_check holds the port (the driver's claim says sharing
// violation, Windows itself access denied).
bool IsBusy(uint32_t error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; }

std::string PollLine(const TPollOutcome& outcome, const PortLink& link) {
    std::string text = PollOutcomeText(outcome);
    if (outcome.Kind == TPollOutcome::TKind::NotSent) text += ": " + platform::SystemErrorReason(link.WriteError);
    return text;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--help") != args.end() ||
           std::find(args.begin(), args.end(), "-h") != args.end();
}

// Splits "--name value" options from the positional arguments.
struct Parsed {
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
};

Parsed ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& known) {
    Parsed p;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) == 0) {
            if (std::find(known.begin(), known.end(), a) == known.end()) throw UsageError("unknown option " + a);
            if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
            p.options[a] = args[++i];
        } else {
            p.positional.push_back(a);
        }
    }
    return p;
}

int Ports(const std::vector<std::string>& args) {
    if (!args.empty()) throw UsageError("ports takes no arguments");
    const auto ports = SystemPorts();
    for (const auto& [number, friendly] : ports) {
        if (friendly.empty()) Out("%s", ComName(number).c_str());
        else Out("%s  %s", ComName(number).c_str(), friendly.c_str());
    }
    if (ports.empty()) Out("no serial ports in the system's device map");
    return ExitOk;
}

int Probe(const std::vector<std::string>& args) {
    Parsed p = ParseArgs(args, {"--baud", "--bits", "--polls"});
    if (p.positional.size() != 1) throw UsageError("probe needs one port, e.g. probe COM5");
    const int32_t port = PortNumberOf(p.positional[0]);
    const int32_t baud = p.options.count("--baud") ? BaudOf(p.options["--baud"]) : 9600;
    const int32_t bits = p.options.count("--bits") ? NumberOf(p.options["--bits"], "bits (0 to 32)", 0, 32) : 0;
    const int32_t polls = p.options.count("--polls") ? NumberOf(p.options["--polls"], "a poll count (1 or more)", 1, 1000000) : 5;

    PortLink link;
    const std::string path = platform::SerialPort::DevicePath(port);
    uint32_t error = 0;
    if (!link.Port.Open(path, baud, &error)) {
        Out("cannot open %s (%s): %s%s", ComName(port).c_str(), path.c_str(), platform::SystemErrorReason(error).c_str(),
            IsBusy(error) ? "; another program, a running driver or kra_check holds it" : "");
        return ExitFailed;
    }
    if (uint32_t refused = link.Port.SpeedError()) {
        Out("%s does not take %d baud: %s", ComName(port).c_str(), baud, platform::SystemErrorReason(refused).c_str());
        return ExitFailed;
    }
    Out("polling %s at %d baud, bits %d: %d poll%s, one a second", ComName(port).c_str(), baud, bits, polls,
        polls == 1 ? "" : "s");
    bool answered = false;
    for (int32_t i = 1; i <= polls; ++i) {
        if (i > 1) Sleep(PollPauseMs);
        const TPollOutcome outcome = PollReader(link, bits);
        answered = answered || outcome.Answered();
        Out("poll %d: %s", i, PollLine(outcome, link).c_str());
    }
    return answered ? ExitOk : ExitNoReader;
}

int Find(const std::vector<std::string>& args) {
    Parsed p = ParseArgs(args, {"--ports", "--bauds"});
    if (!p.positional.empty()) throw UsageError("find takes only --ports and --bauds");
    std::vector<int32_t> bauds;
    if (p.options.count("--bauds")) {
        for (const std::string& item : SplitList(p.options["--bauds"])) {
            const int32_t b = BaudOf(item);
            if (std::find(bauds.begin(), bauds.end(), b) == bauds.end()) bauds.push_back(b);
        }
    } else {
        bauds.push_back(BaudAtIndex(FallbackBaudIndex));  // what readers speak out of the box
        for (int32_t b : BaudRates)
            if (b != bauds.front()) bauds.push_back(b);
    }
    std::vector<int32_t> ports;
    if (p.options.count("--ports")) {
        ports = PortList(p.options["--ports"]);
    } else {
        for (const auto& entry : SystemPorts()) ports.push_back(entry.first);
    }
    if (ports.empty()) {
        Out("no serial ports in the system's device map; name them with --ports");
        Out("no reader found");
        return ExitNoReader;
    }

    std::string portNames, baudNames;
    for (int32_t n : ports) portNames += (portNames.empty() ? "" : ", ") + ComName(n);
    for (int32_t b : bauds) baudNames += (baudNames.empty() ? "" : ", ") + std::to_string(b);
    Out("sending the poll frame to %s", portNames.c_str());
    Out("at %s baud, %d polls each", baudNames.c_str(), FindPolls);

    for (int32_t port : ports) {
        const std::string path = platform::SerialPort::DevicePath(port);
        for (int32_t baud : bauds) {
            // A port of its own for each speed: Open sets the line and takes the driver's claim.
            PortLink link;
            uint32_t error = 0;
            if (!link.Port.Open(path, baud, &error)) {
                Out("%s: %s, skipped: %s", ComName(port).c_str(), IsBusy(error) ? "busy" : "cannot open",
                    platform::SystemErrorReason(error).c_str());
                break;  // the other speeds would meet the same
            }
            if (uint32_t refused = link.Port.SpeedError()) {
                Out("%s at %d baud: the port does not take this speed: %s", ComName(port).c_str(), baud,
                    platform::SystemErrorReason(refused).c_str());
                continue;
            }
            std::string results;
            bool answered = false;
            for (int i = 0; i < FindPolls && !answered; ++i) {
                const TPollOutcome outcome = PollReader(link, 0);
                answered = outcome.Answered();
                results += (results.empty() ? "" : ", ") + PollLine(outcome, link);
            }
            Out("%s at %d baud: %s", ComName(port).c_str(), baud, results.c_str());
            if (answered) {
                Out("found %s at %d baud", ComName(port).c_str(), baud);
                return ExitOk;
            }
        }
    }
    Out("no reader found");
    return ExitNoReader;
}

int Save(const std::vector<std::string>& args) {
    Parsed p = ParseArgs(args, {"--section"});
    if (p.positional.size() < 3 || p.positional.size() > 4)
        throw UsageError("save needs FILE COMn B [N], e.g. save host.xml COM5 19200");
    const std::string file = p.positional[0];
    const std::string section = p.options.count("--section") ? p.options["--section"] : "Devices";
    TReaderSettings wanted;
    wanted.COM_Number = PortNumberOf(p.positional[1]);
    wanted.Baud = BaudOf(p.positional[2]);
    const bool bitsGiven = p.positional.size() == 4;
    if (bitsGiven) wanted.Bits = NumberOf(p.positional[3], "bits (0 to 32)", 0, 32);

    TReaderSettings before;
    const bool existed = platform::PathExists(file);
    // A value the driver cannot read (Baud="fast") is what a technician comes to mend: the save
    // goes ahead and says what the file held; a file that does not parse stops it.
    std::string unreadable;
    try {
        LoadSettings(file, section, before);
    } catch (const std::exception& e) {
        unreadable = e.what();
    }
    if (!bitsGiven) wanted.Bits = before.Bits;
    try {
        SaveSettings(file, section, wanted);
    } catch (const std::exception& e) {
        Out("not saved: %s", e.what());
        return ExitFailed;
    }
    if (!unreadable.empty()) Out("the file held a value the driver could not read: %s", unreadable.c_str());
    const auto tell = [&](const char* name, int32_t was, int32_t now) {
        if (!existed) Out("%s: %d", name, now);
        else if (was == now) Out("%s: %d, unchanged", name, now);
        else Out("%s: %d -> %d", name, was, now);
    };
    tell("COM_Number", before.COM_Number, wanted.COM_Number);
    tell("Baud", before.Baud, wanted.Baud);
    tell("Bits", before.Bits, wanted.Bits);
    Out("saved %s%s, section %s; the driver takes the values at its next start", existed ? "" : "the new file ",
        file.c_str(), section.c_str());
    return ExitOk;
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "%s\n", MainHelp);
        return ExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        Out("%s", MainHelp);
        return ExitOk;
    }
    struct Command {
        const char* name;
        const char* help;
        int (*run)(const std::vector<std::string>&);
    };
    static const Command commands[] = {
        {"ports", PortsHelp, Ports}, {"probe", ProbeHelp, Probe}, {"find", FindHelp, Find}, {"save", SaveHelp, Save}};
    for (const Command& c : commands) {
        if (command != c.name) continue;
        if (WantsHelp(args)) {
            Out("%s", c.help);
            return ExitOk;
        }
        try {
            return c.run(args);
        } catch (const UsageError& e) {
            std::fprintf(stderr, "kra_check %s: %s\n\n%s\n", c.name, e.what(), c.help);
            return ExitUsage;
        }
    }
    std::fprintf(stderr, "kra_check: unknown command %s\n\n%s\n", command.c_str(), MainHelp);
    return ExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kra_check: %s\n", e.what());
        return ExitFailed;
    }
}
