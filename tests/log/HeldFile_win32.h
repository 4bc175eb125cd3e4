// Another opener's handle on a log file (a viewer, a tail tool), closed when the test lets it go.
#pragma once
#include <windows.h>

#include <string>

class Held {
public:
    Held(const std::string& path, DWORD access, DWORD share)
        : h_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~Held() { Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    bool Ok() const { return h_ != INVALID_HANDLE_VALUE; }
    void Release() {
        if (Ok()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};
