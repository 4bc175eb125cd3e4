// A fresh folder per test, and reading files back.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "platform/Files.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

class LogFolder : public ::testing::Test {
protected:
    // The folder as a log path prefix, ending in the native separator.
    std::string Dir() const { return temp_.Dir(); }
    std::string At(const std::string& name) const { return Dir() + name; }

    static std::string Read(const std::string& path) { return ReadBytes(path); }
    static void Write(const std::string& path, const std::string& bytes) { WriteBytes(path, bytes); }
    static bool Exists(const std::string& path) { return fs::exists(path); }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
        return names;
    }
    // Sets the last-write time to "now minus age".
    static void Age(const std::string& path, std::chrono::seconds age) {
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
    }

private:
    TempFolder temp_;

protected:
    fs::path folder = temp_.Path();
};

// The local date as daily file names carry it: YYYY-MM-DD.
inline std::string Today() {
    const platform::LocalTime t = platform::LocalNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", unsigned(t.year), unsigned(t.month), unsigned(t.day));
    return text;
}

// "DD.MM.YYYY HH:NN:SS.ZZZ> " under the usual regional settings.
inline const std::regex& StampPattern() {
    static const std::regex pattern(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3}> )");
    return pattern;
}
