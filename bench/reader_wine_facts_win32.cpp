// Measures how this Wine's serial layer behaves with the driver's time-outs (LineTimeouts), on a
// port that reader_sim serves with: silence, then AA BB CC, then silence. Built and run by
// bench/reader_bench; prints one line per fact.
#include <windows.h>

#include <cstdio>

#include "platform/Serial.h"

namespace {

double Ms(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) { return 1000.0 * double(b.QuadPart - a.QuadPart) / double(f.QuadPart); }

const BYTE Poll[8] = {0xAA, 0x00, 0x03, 0x25, 0x26, 0x01, 0x01, 0xBB};

struct Port {
    HANDLE h;
    OVERLAPPED rd{}, wr{};
};

void SendPoll(Port& p) {
    DWORD n = 0;
    if (!WriteFile(p.h, Poll, 8, &n, &p.wr) && GetLastError() == ERROR_IO_PENDING) GetOverlappedResult(p.h, &p.wr, &n, TRUE);
}

void TimedRead(Port& p, DWORD count, const char* what) {
    BYTE buf[256];
    DWORD n = 0;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    BOOL ok = ReadFile(p.h, buf, count, &n, &p.rd);
    DWORD e = ok ? 0 : GetLastError();
    if (!ok && e == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(p.h, &p.rd, &n, TRUE);
        e = ok ? 0 : GetLastError();
    }
    QueryPerformanceCounter(&b);
    std::printf("%-44s %s, error %lu, %lu bytes, after %.0f ms\n", what, ok ? "succeeds" : "fails", e, n, Ms(a, b, f));
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "\\\\.\\COM5";
    Port p;
    p.h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (p.h == INVALID_HANDLE_VALUE) {
        std::printf("cannot open %s: error %lu\n", path, GetLastError());
        return 1;
    }
    p.rd.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    p.wr.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    using platform::LineTimeouts;
    COMMTIMEOUTS t{LineTimeouts.ReadInterval, LineTimeouts.ReadPerByte, LineTimeouts.ReadConstant,
                   LineTimeouts.WritePerByte, LineTimeouts.WriteConstant};
    SetCommTimeouts(p.h, &t);

    SendPoll(p);
    TimedRead(p, 3, "3-byte read, silent line:");
    SendPoll(p);
    TimedRead(p, 8, "8-byte read, 3 bytes arrive:");

    // A wait cut short by the event: is the read still pending, and how does cancelling end?
    SendPoll(p);
    BYTE buf[8];
    DWORD n = 0;
    LARGE_INTEGER f, a, b, c;
    QueryPerformanceFrequency(&f);
    BOOL ok = ReadFile(p.h, buf, 3, &n, &p.rd);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        Sleep(50);
        SetEvent(p.rd.hEvent);
        QueryPerformanceCounter(&a);
        ok = GetOverlappedResult(p.h, &p.rd, &n, TRUE);
        DWORD e = ok ? 0 : GetLastError();
        bool pending = !HasOverlappedIoCompleted(&p.rd);
        QueryPerformanceCounter(&b);
        std::printf("%-44s %s, error %lu, after %.1f ms; read %s\n", "wait ended by SetEvent:", ok ? "succeeds" : "fails", e,
                    Ms(a, b, f), pending ? "still pending" : "completed");
        CancelIo(p.h);
        ok = GetOverlappedResult(p.h, &p.rd, &n, TRUE);
        e = ok ? 0 : GetLastError();
        QueryPerformanceCounter(&c);
        std::printf("%-44s %s, error %lu, after %.1f ms\n", "then CancelIo and wait:", ok ? "succeeds" : "fails", e, Ms(b, c, f));
    }
    CloseHandle(p.h);
    return 0;
}
