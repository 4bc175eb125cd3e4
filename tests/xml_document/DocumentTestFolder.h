// A fresh folder per test for the document's files, removed afterwards.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TempFolder.h"

class DocumentFolder : public ::testing::Test {
protected:
    std::string At(const std::string& name) const { return folder_.At(name); }
    std::string Read(const std::string& name) const { return ReadBytes(At(name)); }
    void Write(const std::string& name, const std::string& data) const { WriteBytes(At(name), data); }

private:
    TempFolder folder_;
};
