#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/doubles/FakePlatform.h"

// A fixture with fresh doubles over a scratch directory that stands for
// drive C: (C:\ProgramData\Pelorin exists, C:\users exists).
class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The bytes of a log file in the product folder; empty if missing.
    std::string LogBytes(const std::wstring& logFileName) const;
    bool LogExists(const std::wstring& logFileName) const;
    // The bytes of a log file along the fallback path, \Pelorin on the
    // current drive; empty if missing.
    std::string FallbackLogBytes(const std::wstring& logFileName) const;
    std::filesystem::path ProductFolder() const;
    void WriteFile(const std::filesystem::path& path, const std::string& bytes) const;

    std::filesystem::path scratch;
};

// The bytes of one framed entry holding `message`.
std::string Entry(const std::string& message);

using Paths = std::vector<std::string>;

// The paths the scans were given, in order, in UTF-8, however many each
// call took; a scan given none fails the test.
Paths ScannedFiles();
