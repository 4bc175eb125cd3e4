// A fresh folder per test for the document's files, removed afterwards.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class DocumentFolder : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  ("kra_xml_" + std::string(info->name()) + "_" + std::to_string(serial++));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string At(const std::string& name) const { return (folder_ / name).string(); }

    std::string Read(const std::string& name) const {
        std::ifstream in(At(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    void Write(const std::string& name, const std::string& data) const {
        std::ofstream(At(name), std::ios::binary) << data;
    }

private:
    std::filesystem::path folder_;
};
