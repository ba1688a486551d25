#include "tests/unit/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "watch/WatcherThreads.h"

void PlatformTest::SetUp()
{
    char pattern[] = "/tmp/pelmon-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    scratch = pattern;
    fake::Reset(scratch);
    hMonitorDir1 = nullptr;
    hMonitorDir2 = nullptr;
}

void PlatformTest::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

std::filesystem::path PlatformTest::ProductFolder() const
{
    return scratch / "ProgramData" / "Pelorin";
}

namespace {

std::string BytesOf(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::string PlatformTest::LogBytes(const std::wstring& logFileName) const
{
    return BytesOf(ProductFolder() / logFileName);
}

std::string PlatformTest::FallbackLogBytes(const std::wstring& logFileName) const
{
    return BytesOf(scratch / "Pelorin" / logFileName);
}

bool PlatformTest::LogExists(const std::wstring& logFileName) const
{
    return std::filesystem::exists(ProductFolder() / logFileName);
}

void PlatformTest::WriteFile(const std::filesystem::path& path, const std::string& bytes) const
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Entry(const std::string& message)
{
    return "\r\n" + std::string(75, '-') + "\r\n" + message;
}

Paths ScannedFiles()
{
    Paths files;
    for (const std::vector<std::string>& paths : fake::ScannedPaths()) {
        EXPECT_FALSE(paths.empty()) << "a scan was given no path";
        files.insert(files.end(), paths.begin(), paths.end());
    }
    return files;
}
