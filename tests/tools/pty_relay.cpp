// pty_relay: two COM ports joined like a null-modem cable, for the Wine tests of kra_check and
// the Windows reader_sim. It makes two pty pairs, publishes their slave sides as two links (the
// host's port and the reader's port) and passes bytes between them. A pty carries bytes at any
// speed, so a scan that tries speeds would find a reader at the first one; with --baud B the
// relay passes bytes only while both sides are set to B (a pty's terminal settings show the
// speed Wine set), and drops them otherwise, as a real line at the wrong speed garbles them.
//   pty_relay --host-link PATH --reader-link PATH [--baud B]
// Runs until SIGINT or SIGTERM, then removes its links.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

struct Pty {
    int master = -1, slave = -1;
    std::string link;
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "pty_relay: %s\n", message.c_str());
    std::exit(2);
}

void Make(Pty& p, const std::string& link) {
    char name[256];
    if (openpty(&p.master, &p.slave, name, nullptr, nullptr) != 0) Fail(std::string("openpty: ") + std::strerror(errno));
    termios tio{};
    tcgetattr(p.slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(p.slave, TCSANOW, &tio);
    // The slave stays open here: the line does not hang up while a program has it closed.
    std::string tmp = link + ".new";
    unlink(tmp.c_str());
    if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0)
        Fail("cannot make the link " + link + ": " + std::strerror(errno));
    p.link = link;
}

long SpeedOf(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return 0;
    switch (cfgetospeed(&tio)) {
        case B110: return 110;
        case B300: return 300;
        case B600: return 600;
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

void WriteAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= n;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string hostLink, readerLink;
    long baud = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) Fail("usage: pty_relay --host-link PATH --reader-link PATH [--baud B]");
        if (a == "--host-link") hostLink = argv[++i];
        else if (a == "--reader-link") readerLink = argv[++i];
        else if (a == "--baud") baud = std::atol(argv[++i]);
        else Fail("unknown option " + a);
    }
    if (hostLink.empty() || readerLink.empty()) Fail("give --host-link and --reader-link");
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    Pty host, reader;
    Make(host, hostLink);
    Make(reader, readerLink);
    std::fprintf(stderr, "pty_relay: %s <-> %s%s\n", hostLink.c_str(), readerLink.c_str(),
                 baud ? (" at " + std::to_string(baud) + " baud only").c_str() : "");

    long lastHost = -1, lastReader = -1;
    while (!stopRequested) {
        pollfd fds[2] = {{host.master, POLLIN, 0}, {reader.master, POLLIN, 0}};
        int r = poll(fds, 2, 200);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        const long hostSpeed = SpeedOf(host.slave), readerSpeed = SpeedOf(reader.slave);
        if (hostSpeed != lastHost || readerSpeed != lastReader) {
            std::fprintf(stderr, "pty_relay: host side at %ld baud, reader side at %ld baud\n", hostSpeed, readerSpeed);
            lastHost = hostSpeed;
            lastReader = readerSpeed;
        }
        const bool pass = baud == 0 || (hostSpeed == baud && readerSpeed == baud);
        for (int k = 0; k < 2; ++k) {
            if (!(fds[k].revents & POLLIN)) continue;
            char buf[512];
            ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n <= 0) continue;
            if (pass) WriteAll(k == 0 ? reader.master : host.master, buf, n);
            else std::fprintf(stderr, "pty_relay: %zd bytes dropped from the %s side\n", n, k == 0 ? "host" : "reader");
        }
    }
    for (Pty* p : {&host, &reader}) {
        close(p->master);
        close(p->slave);
        unlink(p->link.c_str());
    }
    return 0;
}
