// POSIX side: a tty (a pty in the tests) in raw mode, with the Win32 time-outs rebuilt on
// poll() deadlines and a pipe whose read end wakes every wait once Cancel has written to it.
#include "platform/Serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace platform {

namespace {

constexpr int kIntervalMs = LineTimeouts.ReadInterval, kReadConstantMs = LineTimeouts.ReadConstant,
              kReadPerByteMs = LineTimeouts.ReadPerByte;
constexpr int kWriteConstantMs = LineTimeouts.WriteConstant, kWritePerByteMs = LineTimeouts.WritePerByte;

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

speed_t SpeedOf(int32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

}  // namespace

struct SerialPort::Impl {
    int fd = -1;
    int wakeRead = -1, wakeWrite = -1;  // the two "events": one pipe serves both directions
    std::atomic<bool> cancelled{false};
    uint32_t speedError = 0;

    // Waits until fd is ready for `events`, the deadline passes, or Cancel wakes us.
    // 1 ready, 0 timed out, -1 cancelled or failed.
    int WaitFor(short events, int timeoutMs) {
        pollfd fds[2] = {{fd, events, 0}, {wakeRead, POLLIN, 0}};
        int r;
        do r = poll(fds, 2, timeoutMs);
        while (r < 0 && errno == EINTR);
        if (r < 0 || fds[1].revents || cancelled) return -1;
        if (r == 0) return 0;
        return 1;
    }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {
    int p[2];
    if (pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
        impl_->wakeRead = p[0];
        impl_->wakeWrite = p[1];
    }
}

SerialPort::~SerialPort() {
    Close();
    if (impl_->wakeWrite >= 0) close(impl_->wakeWrite);
    if (impl_->wakeRead >= 0) close(impl_->wakeRead);
}

std::string SerialPort::DevicePath(int32_t portNumber) {
    std::string name = "KRA_COM" + std::to_string(portNumber);
    if (const char* path = std::getenv(name.c_str()); path && *path) return path;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

void SerialPort::Close() {
    if (impl_->fd >= 0) close(impl_->fd);
    impl_->fd = -1;
}

bool SerialPort::IsTimeOut(uint32_t error) { return error == ETIMEDOUT; }

bool SerialPort::Open(const std::string& devicePath, int32_t baudRate, uint32_t* error) {
    Close();
    int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = static_cast<uint32_t>(errno);
        return false;
    }
    // Exclusive like share mode 0: a second opener (of this program or another) is refused.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        if (error) *error = EBUSY;
        return false;
    }
    ioctl(fd, TIOCEXCL);
    impl_->fd = fd;

    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        if (speed_t speed = SpeedOf(baudRate); speed != B0) {
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
        } else {
            impl_->speedError = EINVAL;
        }
        if (tcsetattr(fd, TCSANOW, &tio) != 0 && impl_->speedError == 0) impl_->speedError = static_cast<uint32_t>(errno);
    }
    int lines = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &lines);
    lines = TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    return true;
}

uint32_t SerialPort::SpeedError() const { return impl_->speedError; }

uint32_t SerialPort::Read(void* buffer, uint32_t count, uint32_t* error) {
    uint32_t failure = 0;
    if (!error) error = &failure;
    *error = 0;
    if (impl_->cancelled || impl_->fd < 0) {
        *error = impl_->cancelled ? ECANCELED : EBADF;
        return 0;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    const auto total = Clock::now() + std::chrono::milliseconds(kReadConstantMs + int64_t(kReadPerByteMs) * count);
    uint32_t got = 0;
    while (got < count) {
        int wait = MsUntil(total);
        if (got > 0 && wait > kIntervalMs) wait = kIntervalMs;  // the gap after a received byte
        int ready = impl_->WaitFor(POLLIN, wait);
        if (ready < 0) {
            *error = impl_->cancelled ? ECANCELED : static_cast<uint32_t>(errno);
            return 0;
        }
        if (ready == 0) break;
        ssize_t n = read(impl_->fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            // The device is gone (a pty whose other end closed): what arrived is returned,
            // later reads fail at once.
            if (got == 0) {
                *error = n < 0 ? static_cast<uint32_t>(errno) : EIO;
                return 0;
            }
            break;
        }
    }
    return got;
}

bool SerialPort::Write(const void* bytes, uint32_t count, uint32_t* error) {
    if (impl_->cancelled || impl_->fd < 0) {
        if (error) *error = impl_->cancelled ? ECANCELED : EBADF;
        return false;
    }
    auto* in = static_cast<const unsigned char*>(bytes);
    const auto total = Clock::now() + std::chrono::milliseconds(kWriteConstantMs + int64_t(kWritePerByteMs) * count);
    uint32_t sent = 0;
    while (sent < count) {
        ssize_t n = write(impl_->fd, in + sent, count - sent);
        if (n > 0) {
            sent += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (error) *error = static_cast<uint32_t>(errno);
            return false;
        }
        int ready = impl_->WaitFor(POLLOUT, MsUntil(total));
        if (ready < 0) {
            if (error) *error = ECANCELED;
            return false;
        }
        if (ready == 0) break;  // cut short by the time-out: still a success, as on Windows
    }
    return true;
}

void SerialPort::Cancel() {
    impl_->cancelled = true;
    if (impl_->wakeWrite >= 0) {
        char one = 1;
        [[maybe_unused]] ssize_t n = write(impl_->wakeWrite, &one, 1);  // stays readable: wakes every later wait too
    }
}

}  // namespace platform
