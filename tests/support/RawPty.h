// A pseudo-terminal pair in raw mode that stands in for a reader's serial line: the test holds
// the master side, the code under test opens the slave side by its path (KRA_COM<n> names it).
#pragma once
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

class RawPty {
public:
    RawPty() {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        path = name;
    }
    ~RawPty() {
        CloseMaster();
        CloseSlave();
    }
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    // Makes the slave side the port `number` of the driver's serial layer.
    void PublishAsPort(int number) const { setenv(("KRA_COM" + std::to_string(number)).c_str(), path.c_str(), 1); }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }
    void CloseSlave() {
        if (slave >= 0) close(slave);
        slave = -1;
    }

    int master = -1, slave = -1;
    std::string path;
};
