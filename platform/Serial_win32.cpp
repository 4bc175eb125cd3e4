// Win32 side: an overlapped COM port handle with one OVERLAPPED record and one event per
// direction, both reused for every operation.
#include "platform/Serial.h"

#include <windows.h>

namespace platform {

struct SerialPort::Impl {
    HANDLE PortHandle = INVALID_HANDLE_VALUE;
    HANDLE Claim = nullptr;  // named after the port while we hold it
    HANDLE ReadEvent = nullptr;
    HANDLE WriteEvent = nullptr;
    OVERLAPPED ReadOverlapped{};
    OVERLAPPED WriteOverlapped{};
    std::atomic<bool> cancelled{false};
    uint32_t speedError = 0;

    // Waits for an operation that went pending. A wait that Cancel cut short by signalling the
    // event leaves the operation running on the caller's buffer: cancel it and wait for its
    // real end, so that no late completion writes into memory the caller has moved on from.
    bool Finish(OVERLAPPED& ov, DWORD& done, uint32_t* error = nullptr) {
        if (cancelled) CancelIo(PortHandle);
        BOOL ok = GetOverlappedResult(PortHandle, &ov, &done, TRUE);
        DWORD failure = ok ? 0 : GetLastError();
        if (!HasOverlappedIoCompleted(&ov)) {
            CancelIo(PortHandle);
            ok = GetOverlappedResult(PortHandle, &ov, &done, TRUE);
            failure = ok ? 0 : GetLastError();
        }
        if (cancelled) failure = ERROR_OPERATION_ABORTED;
        if (error) *error = failure;
        return ok && !cancelled;
    }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {
    impl_->ReadEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    impl_->WriteEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    impl_->ReadOverlapped.hEvent = impl_->ReadEvent;
    impl_->WriteOverlapped.hEvent = impl_->WriteEvent;
}

SerialPort::~SerialPort() {
    Close();
    if (impl_->WriteEvent) CloseHandle(impl_->WriteEvent);
    if (impl_->ReadEvent) CloseHandle(impl_->ReadEvent);
}

std::string SerialPort::DevicePath(int32_t portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

void SerialPort::Close() {
    if (impl_->PortHandle != INVALID_HANDLE_VALUE) CloseHandle(impl_->PortHandle);
    impl_->PortHandle = INVALID_HANDLE_VALUE;
    if (impl_->Claim) CloseHandle(impl_->Claim);
    impl_->Claim = nullptr;
}

bool SerialPort::IsTimeOut(uint32_t error) { return error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT; }

bool SerialPort::Open(const std::string& devicePath, int32_t baudRate, uint32_t* error) {
    Close();
    impl_->PortHandle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (impl_->PortHandle == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return false;
    }
    // Share mode 0 keeps other openers out on Windows; Wine does not apply share modes to
    // devices, so a second driver on the same port would steal the reader's bytes. A named
    // object per port keeps a second driver out there too.
    std::string claim = "kra_MCR_Serial.";
    for (char c : devicePath) claim += c == '\\' ? '_' : c;
    impl_->Claim = CreateMutexA(nullptr, FALSE, claim.c_str());
    if (impl_->Claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(impl_->Claim);
        impl_->Claim = nullptr;
        CloseHandle(impl_->PortHandle);
        impl_->PortHandle = INVALID_HANDLE_VALUE;
        if (error) *error = ERROR_SHARING_VIOLATION;  // what Windows itself says of a port held elsewhere
        return false;
    }

    COMMTIMEOUTS timeouts{LineTimeouts.ReadInterval, LineTimeouts.ReadPerByte, LineTimeouts.ReadConstant,
                          LineTimeouts.WritePerByte, LineTimeouts.WriteConstant};
    SetCommTimeouts(impl_->PortHandle, &timeouts);

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(impl_->PortHandle, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // Binary mode and DTR on; no parity check, no flow control of either kind, no character
    // replacement, no abort on errors.
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.fDummy2 = 0;
    impl_->speedError = SetCommState(impl_->PortHandle, &dcb) ? 0 : GetLastError();
    return true;
}

uint32_t SerialPort::SpeedError() const { return impl_->speedError; }

uint32_t SerialPort::Read(void* buffer, uint32_t count, uint32_t* error) {
    uint32_t failure = 0;
    if (!error) error = &failure;
    *error = 0;
    if (impl_->cancelled) {
        *error = ERROR_OPERATION_ABORTED;
        return 0;
    }
    DWORD done = 0;
    if (ReadFile(impl_->PortHandle, buffer, count, &done, &impl_->ReadOverlapped)) return done;
    if (GetLastError() != ERROR_IO_PENDING) {
        *error = GetLastError();
        return 0;
    }
    // A silent line ends in ERROR_TIMEOUT under Wine, in success with 0 bytes under Windows.
    if (impl_->Finish(impl_->ReadOverlapped, done, error)) return done;
    if (IsTimeOut(*error)) *error = 0;
    return 0;
}

bool SerialPort::Write(const void* bytes, uint32_t count, uint32_t* error) {
    if (impl_->cancelled) {
        if (error) *error = ERROR_OPERATION_ABORTED;
        return false;
    }
    DWORD done = 0;
    if (WriteFile(impl_->PortHandle, bytes, count, &done, &impl_->WriteOverlapped)) return true;
    const DWORD failure = GetLastError();
    if (failure != ERROR_IO_PENDING) {
        if (error) *error = failure;
        return false;
    }
    // A line that takes nothing (flow stopped) ends in ERROR_TIMEOUT under Wine.
    return impl_->Finish(impl_->WriteOverlapped, done, error);
}

void SerialPort::Cancel() {
    // The flag first: an operation started after these SetEvent calls (which resets its event)
    // sees the flag and cancels itself.
    impl_->cancelled = true;
    SetEvent(impl_->ReadEvent);
    SetEvent(impl_->WriteEvent);
}

}  // namespace platform
