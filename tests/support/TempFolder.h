// A fresh folder of a test's own under the system's temporary folder, removed with its owner.
// Test programs of several build folders may run at once: the name carries a time stamp and a
// count as well as the test's name.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TempFolder {
public:
    // Named after the running test (suite and name), for fixtures and single tests.
    TempFolder() : TempFolder(RunningTestName()) {}
    explicit TempFolder(const std::string& name) {
        static std::atomic<int> count{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("kra-" + name + "-" + std::to_string(stamp) + "-" + std::to_string(count++));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The folder as a path prefix, ending in the native separator (as a log path is given).
    std::string Dir() const { return path_.string() + char(std::filesystem::path::preferred_separator); }
    std::string At(const std::string& name) const { return (path_ / name).string(); }

private:
    static std::string RunningTestName() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
        std::replace(name.begin(), name.end(), '/', '_');  // parameterized names
        return name;
    }

    std::filesystem::path path_;
};

// A file's bytes as they are; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes or empties a file with these bytes.
inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
