// A fresh folder per test and run: test programs of several build folders may run at once.
#pragma once
#include <chrono>
#include <filesystem>
#include <string>

inline std::filesystem::path FreshTempFolder(const std::string& name) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kra-settings-" + name + "-" + std::to_string(stamp));
    std::filesystem::create_directories(folder);
    return folder;
}
