// reader_sim: a simulated MIFARE card reader. It answers each poll frame of the driver
// (AA 00 03 25 26 01 01 BB) with the next step of a script: a card, no card, silence, garbage, a
// bad check byte, a frame cut short, random bytes. Integrators use it to run their host against
// the real DLL without a reader; the end-to-end tests and the demo drive it the same way.
// Everything it receives and sends is logged, one line per event.
// On Linux it plays the reader on a pseudo-terminal (or a tty); built for Windows from this same
// source it plays it on a COM port, one end of a virtual null-modem pair, through the driver's
// own serial layer.
#ifdef _WIN32
#include "platform/Files.h"
#include "platform/Serial.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes PollFrame{0xAA, 0x00, 0x03, 0x25, 0x26, 0x01, 0x01, 0xBB};

void Usage() {
    std::puts(
#ifdef _WIN32
        "reader_sim - a simulated MIFARE card reader on a COM port\n"
        "\n"
        "usage: reader_sim.exe --port COMn [options] [STEP...]\n"
        "\n"
        "The reader answers each poll frame it receives (AA 00 03 25 26 01 01 BB) with the next\n"
        "step of the script. Give it one end of a virtual null-modem pair (two COM ports joined\n"
        "by a driver such as com0com) and give the host's settings the other end.\n"
        "\n"
        "options:\n"
        "  --port COMn      the COM port to answer on\n"
        "  --baud B         the line's speed (default 9600)\n"
#else
        "reader_sim - a simulated MIFARE card reader on a pseudo-terminal\n"
        "\n"
        "usage: reader_sim [options] [STEP...]\n"
        "\n"
        "The reader answers each poll frame it receives (AA 00 03 25 26 01 01 BB) with the next\n"
        "step of the script. Give a Wine prefix the port with a symlink, for COM5:\n"
        "  ln -sfn /tmp/kra/reader $WINEPREFIX/dosdevices/com5   (the link, not /dev/pts/N)\n"
        "\n"
        "options:\n"
        "  --link PATH      make a pty pair, hold its master side and publish the other side's name\n"
        "                   as the symlink PATH (re-created when the simulator starts again)\n"
        "  --device PATH    answer on an existing tty instead, e.g. one end of a socat pair\n"
#endif
        "  --after STEP     what to answer once the script is done (default: nocard)\n"
        "  --loop           start the script again after its last step\n"
        "  --exit-after N   exit once N polls have been answered\n"
        "  --seconds S      exit after S seconds (default: until Ctrl+C)\n"
        "  --delay MS       wait MS milliseconds between a poll and its answer (default 0)\n"
        "  --gap MS         wait MS milliseconds between two bytes of an answer (default 0)\n"
        "  --stream RATE    ignore the script: send random bytes at RATE bytes a second, all the time\n"
        "  --seed N         seed for the random steps (default 1)\n"
        "  --log FILE       log to FILE (default: standard error); --quiet: log nothing\n"
        "  --help           this text\n"
        "\n"
        "steps (each answers one poll; add *K to repeat a step K times, e.g. card:298*3):\n"
        "  card:N           a card with the 32-bit number N (decimal or 0x hex): AA 00 06 00 00\n"
        "                   and N lowest byte first, check byte, BB\n"
        "  nocard           no card in the field: AA 00 02 00 00 02 BB (accepted, no number)\n"
        "  silence          no answer at all\n"
        "  badlrc:N         card N with a wrong check byte\n"
        "  short:N:K        only the first K bytes of card N's frame\n"
        "  half:N           the first half (5 bytes) of card N's frame\n"
        "  frame:HEX        a frame around the data bytes HEX, with the right check byte\n"
        "  hex:HEX          the bytes HEX as they are (blanks allowed: hex:'AA 00 00')\n"
        "  garbage[:K]      K random bytes (default 16) that do not start with AA\n"
        "  random[:K]       K random bytes (default 64)\n"
#ifndef _WIN32
        "  stall:MS         no answer, and the line takes nothing from the host for MS milliseconds:\n"
        "                   the host's writes time out (--link only)\n"
#endif
        "\n"
        "log lines: '<seconds> poll #<n> -> <step>: <hex> last=<us>' where last is the time the\n"
        "answer's last byte was written (microseconds since 1970). In --stream mode every valid\n"
        "card frame that happens to occur in the random bytes is logged as 'stream card: N'.\n"
        "\n"
#ifdef _WIN32
        "example: reader_sim.exe --port COM6 card:298*3 silence nocard*2 badlrc:298 card:4294967295");
#else
        "example: reader_sim --link /tmp/kra/reader card:298*3 silence nocard*2 badlrc:298 card:4294967295");
#endif
}

volatile sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

FILE* logFile = stderr;
auto startTime = std::chrono::steady_clock::now();

void Log(const char* format, ...) {
    if (!logFile) return;
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - startTime).count();
    std::fprintf(logFile, "%9.3f ", t);
    va_list args;
    va_start(args, format);
    std::vfprintf(logFile, format, args);
    va_end(args);
    std::fputc('\n', logFile);
    std::fflush(logFile);
}

long long NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Hex(const Bytes& b, size_t limit = 48) {
    std::string s;
    char x[4];
    for (size_t i = 0; i < b.size() && i < limit; ++i) {
        std::snprintf(x, sizeof x, i ? " %02X" : "%02X", b[i]);
        s += x;
    }
    if (b.size() > limit) s += " ... (" + std::to_string(b.size()) + " bytes)";
    return s.empty() ? "-" : s;
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "reader_sim: %s (see --help)\n", message.c_str());
    std::exit(2);
}

uint32_t Number(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end || errno || v > 0xFFFFFFFFull) Fail("not a 32-bit number: " + text);
    return static_cast<uint32_t>(v);
}

Bytes ParseHex(const std::string& text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) Fail("odd number of hex digits: " + text);
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        std::string pair = digits.substr(i, 2);
        long v = std::strtol(pair.c_str(), &end, 16);
        if (*end) Fail("not hex: " + text);
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

uint8_t Lrc(const Bytes& b, size_t from, size_t to) {
    uint8_t x = 0;
    for (size_t i = from; i < to; ++i) x ^= b[i];
    return x;
}

Bytes FrameAround(const Bytes& data) {
    Bytes f;
    f.reserve(data.size() + 5);
    for (uint8_t b : {uint8_t(0xAA), uint8_t(0x00), static_cast<uint8_t>(data.size())}) f.push_back(b);
    for (uint8_t b : data) f.push_back(b);
    f.push_back(Lrc(f, 1, f.size()));
    f.push_back(0xBB);
    return f;
}

Bytes CardFrame(uint32_t n) {
    return FrameAround({0x00, 0x00, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
}

struct Step {
    std::string text;  // as given, for the log
    std::string kind;
    std::string arg, arg2;
};

Step ParseStep(const std::string& text) {
    Step s;
    s.text = text;
    size_t colon = text.find(':');
    s.kind = text.substr(0, colon);
    if (colon != std::string::npos) {
        std::string rest = text.substr(colon + 1);
        size_t second = rest.find(':');
        s.arg = rest.substr(0, second);
        if (second != std::string::npos) s.arg2 = rest.substr(second + 1);
    }
    static const std::set<std::string> kinds{"card", "nocard", "silence", "badlrc", "short", "half",
                                             "frame", "hex", "garbage", "random", "stall"};
    if (!kinds.count(s.kind)) Fail("unknown step: " + text);
    if ((s.kind == "card" || s.kind == "badlrc" || s.kind == "half" || s.kind == "short") && s.arg.empty())
        Fail("step needs a card number: " + text);
    if (s.kind == "short" && s.arg2.empty()) Fail("short needs a byte count: " + text);
    // Checked now, not at the first poll: a typo shows before anything runs.
    if (s.kind == "card" || s.kind == "badlrc" || s.kind == "half" || s.kind == "short") Number(s.arg);
    if (s.kind == "short") Number(s.arg2);
    if ((s.kind == "garbage" || s.kind == "random") && !s.arg.empty()) Number(s.arg);
    if (s.kind == "stall" && s.arg.empty()) Fail("stall needs milliseconds: " + text);
    if (s.kind == "stall") Number(s.arg);
    if (s.kind == "hex" || s.kind == "frame") {
        Bytes b = ParseHex(s.arg);
        if (s.kind == "frame" && (b.empty() || b.size() > 255)) Fail("a frame holds 1 to 255 data bytes: " + text);
    }
    return s;
}

std::mt19937 rng(1);

// The bytes a step answers with (empty: silence).
Bytes Render(const Step& s) {
    if (s.kind == "card") return CardFrame(Number(s.arg));
    if (s.kind == "nocard") return FrameAround({0x00, 0x00});
    if (s.kind == "silence" || s.kind == "stall") return {};
    if (s.kind == "badlrc") {
        Bytes f = CardFrame(Number(s.arg));
        f[f.size() - 2] ^= 0x40;
        return f;
    }
    if (s.kind == "half" || s.kind == "short") {
        Bytes f = CardFrame(Number(s.arg));
        size_t k = s.kind == "half" ? f.size() / 2 : Number(s.arg2);
        f.resize(std::min(k, f.size()));
        return f;
    }
    if (s.kind == "frame") return FrameAround(ParseHex(s.arg));
    if (s.kind == "hex") return ParseHex(s.arg);
    size_t k = s.arg.empty() ? (s.kind == "garbage" ? 16 : 64) : Number(s.arg);
    Bytes b(k);
    for (auto& v : b) v = static_cast<uint8_t>(rng());
    if (s.kind == "garbage" && !b.empty() && b[0] == 0xAA) b[0] = 0x55;
    return b;
}

struct Options {
    std::string link, device, port, logPath;
    int32_t baud = 9600;
    std::vector<Step> script;
    Step after = ParseStep("nocard");
    bool loop = false, quiet = false;
    long exitAfter = 0;
    double seconds = 0;
    int delayMs = 0, gapMs = 0;
    long streamRate = 0;
    uint32_t seed = 1;
};

Options ParseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Fail(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            Usage();
            std::exit(0);
        } else if (a == "--link") o.link = value();
        else if (a == "--device") o.device = value();
        else if (a == "--port") o.port = value();
        else if (a == "--baud") o.baud = static_cast<int32_t>(Number(value()));
        else if (a == "--after") o.after = ParseStep(value());
        else if (a == "--loop") o.loop = true;
        else if (a == "--exit-after") o.exitAfter = Number(value());
        else if (a == "--seconds") o.seconds = std::atof(value().c_str());
        else if (a == "--delay") o.delayMs = static_cast<int>(Number(value()));
        else if (a == "--gap") o.gapMs = static_cast<int>(Number(value()));
        else if (a == "--stream") o.streamRate = Number(value());
        else if (a == "--seed") o.seed = Number(value());
        else if (a == "--log") o.logPath = value();
        else if (a == "--quiet") o.quiet = true;
        else if (a.rfind("--", 0) == 0) Fail("unknown option " + a);
        else {
            std::string text = a;
            long repeat = 1;
            if (size_t star = text.rfind('*'); star != std::string::npos) {
                repeat = Number(text.substr(star + 1));
                text = text.substr(0, star);
            }
            Step s = ParseStep(text);
            for (long k = 0; k < repeat; ++k) o.script.push_back(s);
        }
    }
#ifdef _WIN32
    if (o.port.empty() || !o.link.empty() || !o.device.empty()) Fail("give the port with --port COMn");
#else
    if (!o.port.empty()) Fail("--port is for the Windows reader_sim.exe; here give --link PATH or --device PATH");
    if (o.link.empty() == o.device.empty()) Fail("give one of --link PATH and --device PATH");
#endif
    // A stall stops the output of the host's side, which only a simulator holding that side can do.
    auto stalls = [](const Step& s) { return s.kind == "stall"; };
    if (o.link.empty() && (stalls(o.after) || std::any_of(o.script.begin(), o.script.end(), stalls)))
        Fail("stall needs --link");
    return o;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#ifdef _WIN32

// The reader's end of the line: a COM port opened as the driver opens its own.
class Line {
public:
    explicit Line(const Options& o) {
        std::string name = o.port;
        if (name.rfind("\\\\.\\", 0) != 0) name = "\\\\.\\" + name;
        uint32_t error = 0;
        if (!port.Open(name, o.baud, &error))
            Fail("cannot open " + o.port + ": " + platform::SystemErrorReason(error));
        if (uint32_t refused = port.SpeedError())
            Fail(o.port + " does not take " + std::to_string(o.baud) + " baud: " + platform::SystemErrorReason(refused));
        Log("reader on %s at %d baud", o.port.c_str(), o.baud);
    }
    // What arrived: the port's own time-outs bound the wait (about half a second when silent).
    long Receive(uint8_t* buffer, size_t size, int /*waitMs*/) {
        return static_cast<long>(port.Read(buffer, static_cast<uint32_t>(std::min<size_t>(size, 16))));
    }
    bool Send(const uint8_t* data, size_t size) { return port.Write(data, static_cast<uint32_t>(size)); }
    // What the random stream could put on the line now.
    long SendSome(const uint8_t* data, size_t size) { return Send(data, size) ? static_cast<long>(size) : -1; }
    // The host's speed is not to be seen from this end of a null-modem pair.
    int HostSpeed() const { return 0; }
    bool SpeedVisible() const { return false; }
    void Stall() {}
    void Resume() {}

private:
    platform::SerialPort port;
};

#else

void RawMode(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &tio);
}

bool WaitWritable(int fd, int ms) {
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, ms) > 0 && (p.revents & POLLOUT);
}

// The reader's end of the line: the master side of a pty pair made here (--link), or a tty.
class Line {
public:
    explicit Line(const Options& o) : link(o.link) {
        if (!o.link.empty()) {
            int slave = -1;
            char name[256];
            if (openpty(&fd, &slave, name, nullptr, nullptr) != 0) Fail(std::string("openpty: ") + std::strerror(errno));
            RawMode(slave);
            // The slave stays open here as well: the line does not hang up while the host has it closed.
            holdSlave = slave;
            ptyName = name;
            std::string tmp = o.link + ".new";
            unlink(tmp.c_str());
            if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), o.link.c_str()) != 0)
                Fail("cannot make the link " + o.link + ": " + std::strerror(errno));
            Log("reader on %s (link %s)", name, o.link.c_str());
        } else {
            fd = open(o.device.c_str(), O_RDWR | O_NOCTTY);
            if (fd < 0) Fail("cannot open " + o.device + ": " + std::strerror(errno));
            RawMode(fd);
            Log("reader on %s", o.device.c_str());
            const char* tty = ttyname(fd);
            speedVisible = !(tty && std::strncmp(tty, "/dev/pts/", 9) == 0);  // a real port has one speed
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~Line() {
        if (holdSlave >= 0) close(holdSlave);
        close(fd);
        if (!link.empty()) {
            // Remove the link only if it still names our pty: a newer simulator may own it now.
            char target[256] = {};
            ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
            if (len > 0 && ptyName == target) unlink(link.c_str());
        }
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // What arrived within waitMs: bytes, 0 for none, -1 when the line is gone.
    long Receive(uint8_t* buffer, size_t size, int waitMs) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, waitMs);
        if (r < 0 && errno != EINTR) return -1;
        if (r <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return 0;
        ssize_t n = read(fd, buffer, size);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        if (n <= 0) {
            Log("line gone: %s", n == 0 ? "end of file" : std::strerror(errno));
            return -1;
        }
        return static_cast<long>(n);
    }
    // Writes all bytes (waiting while the line is full); false when the line is gone.
    bool Send(const uint8_t* data, size_t size) {
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(fd, data + done, size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (stopRequested || !WaitWritable(fd, 1000)) return false;
            } else {
                return false;
            }
        }
        return true;
    }
    // What the full line takes of the random stream now; -1 when the line is gone.
    long SendSome(const uint8_t* data, size_t size) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            Log("line gone: %s", std::strerror(errno));
            return -1;
        }
        return n > 0 ? static_cast<long>(n) : 0;
    }
    // The host's setting shows on the pty pair made here; the far end of someone else's pty
    // (socat) only shows its own, which says nothing of the host's.
    bool SpeedVisible() const { return speedVisible; }
    int HostSpeed() const {
        termios tio{};
        if (!speedVisible || tcgetattr(holdSlave >= 0 ? holdSlave : fd, &tio) != 0) return 0;
        switch (cfgetospeed(&tio)) {
            case B1200: return 1200;
            case B2400: return 2400;
            case B4800: return 4800;
            case B9600: return 9600;
            case B19200: return 19200;
            case B38400: return 38400;
            case B57600: return 57600;
            case B115200: return 115200;
            default: return 0;
        }
    }
    // The host's output stops: its writes find no room and time out.
    void Stall() { tcflow(holdSlave, TCOOFF); }
    void Resume() { tcflow(holdSlave, TCOON); }

private:
    int fd = -1, holdSlave = -1;
    bool speedVisible = true;
    std::string link, ptyName;
};

#endif

bool SendAnswer(Line& line, const Bytes& b, int gapMs) {
    if (gapMs <= 0) return line.Send(b.data(), b.size());
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) SleepMs(gapMs);
        if (!line.Send(&b[i], 1)) return false;
    }
    return true;
}

// Finds card frames the driver would accept anywhere in the random stream.
struct StreamWatch {
    Bytes tail;
    void Feed(const Bytes& chunk) {
        tail.insert(tail.end(), chunk.begin(), chunk.end());
        size_t i = 0;
        for (; i + 3 <= tail.size(); ++i) {
            if (tail[i] != 0xAA) continue;
            size_t n = tail[i + 2], len = n + 5;
            if (n < 6 || n > 122) continue;
            if (i + len > tail.size()) break;  // may complete with the next chunk
            uint8_t x = 0;
            for (size_t k = i + 1; k < i + len - 1; ++k) x ^= tail[k];
            if (x == 0) {
                uint32_t v = uint32_t(tail[i + 5]) | uint32_t(tail[i + 6]) << 8 | uint32_t(tail[i + 7]) << 16 |
                             uint32_t(tail[i + 8]) << 24;
                Log("stream card: %u", v);
            }
        }
        tail.erase(tail.begin(), tail.begin() + static_cast<long>(i));
    }
};

}  // namespace

int main(int argc, char** argv) {
    Options o = ParseArgs(argc, argv);
    rng.seed(o.seed);
    if (o.quiet) logFile = nullptr;
    if (!o.logPath.empty() && !o.quiet) {
        logFile = std::fopen(o.logPath.c_str(), "a");
        if (!logFile) Fail("cannot write the log " + o.logPath + ": " + std::strerror(errno));
    }
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
#ifndef _WIN32
    signal(SIGHUP, OnSignal);
    signal(SIGPIPE, SIG_IGN);
#endif

    Line line(o);
    if (o.streamRate > 0) Log("streaming random bytes at %ld bytes/s", o.streamRate);
    else Log("script of %zu steps, then %s", o.script.size(), o.loop ? "the script again" : o.after.text.c_str());

    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    Bytes pending;
    long polls = 0, answered = 0;
    int lineSpeed = -1;
    size_t next = 0;
    long long streamSent = 0, streamDropped = 0;
    StreamWatch watch;
    int rc = 0;
    double stallEnd = -1;  // while >= 0, the host's side takes nothing until then (elapsed seconds)
    while (!stopRequested) {
        if (o.seconds > 0 && elapsed() >= o.seconds) break;
        if (o.exitAfter > 0 && answered >= o.exitAfter) break;
        int waitMs = 100;
        if (stallEnd >= 0) {
            if (elapsed() >= stallEnd) {
                line.Resume();
                stallEnd = -1;
                Log("the line takes bytes again");
            } else {
                waitMs = std::min(waitMs, static_cast<int>((stallEnd - elapsed()) * 1000) + 1);
            }
        }
        if (o.streamRate > 0) {
            // Random bytes in 10 ms slices; what the full line does not take is dropped.
            long long due = static_cast<long long>(elapsed() * o.streamRate) - streamSent - streamDropped;
            if (due > 0) {
                Bytes chunk(static_cast<size_t>(due));
                for (auto& v : chunk) v = static_cast<uint8_t>(rng());
                long n = line.SendSome(chunk.data(), chunk.size());
                if (n < 0) {
                    rc = 1;
                    break;
                }
                chunk.resize(static_cast<size_t>(n));
                watch.Feed(chunk);
                streamSent += n;
                streamDropped += due - n;
            }
            waitMs = 10;
        }
        uint8_t buf[512];
        long n = line.Receive(buf, sizeof buf, waitMs);
        if (n < 0) {
            rc = 1;
            break;
        }
        if (n == 0) continue;
        pending.insert(pending.end(), buf, buf + n);
        // Every complete poll frame takes the next step; other bytes are reported and dropped.
        for (;;) {
            auto at = std::search(pending.begin(), pending.end(), PollFrame.begin(), PollFrame.end());
            if (at == pending.end()) {
                // The last 7 bytes may still begin a poll frame; anything before them cannot.
                const size_t keep = PollFrame.size() - 1;
                if (pending.size() > keep) {
                    Log("unexpected bytes: %s", Hex(Bytes(pending.begin(), pending.end() - keep)).c_str());
                    pending.erase(pending.begin(), pending.end() - keep);
                }
                break;
            }
            if (at != pending.begin()) Log("unexpected bytes: %s", Hex(Bytes(pending.begin(), at)).c_str());
            pending.erase(pending.begin(), at + static_cast<long>(PollFrame.size()));
            ++polls;
            if (int baud = line.HostSpeed(); baud != lineSpeed) {
                lineSpeed = baud;
                if (baud > 0) Log("line speed %d baud", baud);  // as the host set it
                else Log("line speed unknown: %s", line.SpeedVisible() ? "not a standard rate" : "this link does not carry it");
            }
            if (o.streamRate > 0) {
                Log("poll #%ld (streaming)", polls);
                continue;
            }
            const Step* step = &o.after;
            if (next < o.script.size()) step = &o.script[next++];
            if (o.loop && next >= o.script.size()) next = 0;
            Bytes answer = Render(*step);
            if (o.delayMs > 0) SleepMs(o.delayMs);
            bool ok = SendAnswer(line, answer, o.gapMs);
            ++answered;
            if (!ok) {
                Log("poll #%ld -> %s: the line is gone", polls, step->text.c_str());
                rc = 1;
                stopRequested = 1;
                break;
            }
            if (step->kind == "stall") {
                line.Stall();
                stallEnd = elapsed() + Number(step->arg) / 1000.0;
            }
            if (answer.empty()) Log("poll #%ld -> %s", polls, step->text.c_str());
            else Log("poll #%ld -> %s: %s last=%lld", polls, step->text.c_str(), Hex(answer, 1024).c_str(), NowMicros());
        }
    }
    if (o.streamRate > 0) Log("stream: %lld bytes sent, %lld dropped (line full)", streamSent, streamDropped);
    Log("done: %ld polls received, %ld answered", polls, answered);
    return rc;
}
