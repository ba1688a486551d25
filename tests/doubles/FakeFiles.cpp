#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <new>

#include "platform/FileAccess.h"
#include "platform/LogAppend.h"
#include "tests/doubles/FakeState.h"

namespace fake {

std::filesystem::path HostPath(const std::wstring& path)
{
    std::wstring rest = path;
    if (rest.size() >= 2 && rest[1] == L':')
        rest.erase(0, 2); // the drive letter: every drive is the scratch root
    for (wchar_t& c : rest) {
        if (c == L'\\')
            c = L'/';
    }
    while (!rest.empty() && rest[0] == L'/')
        rest.erase(0, 1);
    return State().driveRoot / std::filesystem::path(rest);
}

std::string Utf8Of(const std::wstring& text)
{
    std::string utf8;
    for (wchar_t wc : text) {
        const auto c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

} // namespace fake

namespace platform {

void AppendToFile(const std::wstring& path, const std::string& bytes)
{
    const std::string host = fake::HostPath(path).string();
    const int fd = ::open(host.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return;
    // One write with O_APPEND, as the Windows adapter's single append.
    [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}

PathKind QueryPathKind(const std::wstring& path)
{
    struct stat info;
    if (::stat(fake::HostPath(path).string().c_str(), &info) != 0)
        return PathKind::Missing;
    return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::File;
}

bool ShortPathOf(const std::wstring& path, std::wstring& shortPath)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    const auto found = fake::State().shortPaths.find(path);
    if (found == fake::State().shortPaths.end())
        return false;
    shortPath = found->second;
    return true;
}

bool CreateFolder(const std::wstring& path, uint32_t& error)
{
    std::error_code failure;
    if (std::filesystem::create_directory(fake::HostPath(path), failure))
        return true;
    error = failure ? static_cast<uint32_t>(failure.value()) : 183; // ERROR_ALREADY_EXISTS
    return false;
}

// The long form from the short paths the test set: the longest short path
// that is the path or a folder above it stands for its long path. Only an
// existing entry of the tree has a long form.
bool LongNamePathOf(const std::wstring& path, std::wstring& longPath)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    longPath = path;
    std::size_t matched = 0;
    for (const auto& [longForm, shortForm] : fake::State().shortPaths) {
        const bool above = path.size() > shortForm.size() && path[shortForm.size()] == L'\\';
        if (shortForm.size() > matched && path.compare(0, shortForm.size(), shortForm) == 0 &&
            (above || path.size() == shortForm.size())) {
            longPath = longForm + path.substr(shortForm.size());
            matched = shortForm.size();
        }
    }
    if (fake::State().tree.count(longPath) == 0) {
        longPath.clear();
        return false;
    }
    return true;
}

bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes, uint32_t& error)
{
    constexpr uint32_t kErrorDiskFull = 112;
    if (fake::Read(&fake::Platform::failReplaces)) {
        error = kErrorDiskFull;
        return false;
    }
    const std::filesystem::path host = fake::HostPath(path);
    std::filesystem::path fresh = host;
    fresh += "." + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            error = 5;
            return false;
        }
    }
    std::error_code failed;
    std::filesystem::rename(fresh, host, failed);
    if (failed) {
        std::filesystem::remove(fresh, failed);
        error = 5;
        return false;
    }
    fake::Update([](fake::Platform& p) { ++p.replacedFiles; });
    return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::size_t limit)
{
    bytes.clear();
    fake::Update([](fake::Platform& p) { ++p.fileReads; });
    if (fake::Read(&fake::Platform::readsRunOutOfMemory))
        throw std::bad_alloc();
    if (fake::Read(&fake::Platform::failReads))
        return false;
    std::ifstream in(fake::HostPath(path), std::ios::binary);
    if (!in)
        return false;
    char chunk[4096];
    while (bytes.size() <= limit && in) {
        const std::size_t room = limit - bytes.size();
        in.read(chunk, static_cast<std::streamsize>(room >= sizeof(chunk) ? sizeof(chunk) : room + 1));
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    fake::Update([&](fake::Platform& p) { p.bytesRead += bytes.size(); });
    return !in.bad();
}

PathKind StampOf(const std::wstring& path, FileStamp& stamp)
{
    stamp = FileStamp{};
    struct stat info;
    if (::stat(fake::HostPath(path).string().c_str(), &info) != 0)
        return PathKind::Missing;
    if (S_ISDIR(info.st_mode))
        return PathKind::Directory;
    stamp = fake::StampOfHostFile(path, info);
    return PathKind::File;
}

SettledRead ReadSettledFile(const std::wstring& path, std::string& bytes, FileStamp& stamp)
{
    bytes.clear();
    stamp = FileStamp{};
    bool held = false;
    fake::Update([&](fake::Platform& p) {
        ++p.fileReads;
        if (p.heldForReads > 0 && p.heldFile == path) {
            held = true;
            if (--p.heldForReads == 0) {
                std::ofstream out(fake::HostPath(path), std::ios::binary | std::ios::trunc);
                out << p.heldFileLastBytes;
            } else if (p.heldFileGrows) {
                std::ofstream(fake::HostPath(path), std::ios::binary | std::ios::app) << 'x';
            }
        }
    });
    if (fake::Read(&fake::Platform::readsRunOutOfMemory))
        throw std::bad_alloc();
    if (held)
        return SettledRead::BeingWritten;
    if (fake::Read(&fake::Platform::failReads))
        return SettledRead::Failed;
    const std::string host = fake::HostPath(path).string();
    std::ifstream in(host, std::ios::binary);
    struct stat info;
    if (!in || ::stat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return SettledRead::Failed;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        bytes.clear();
        return SettledRead::Failed;
    }
    stamp = fake::StampOfHostFile(path, info);
    return SettledRead::Read;
}

} // namespace platform

namespace fake {

namespace {

// Unix time in 100 ns units since 1601, as FILETIME counts.
constexpr uint64_t kUnixEpochTicks = 116444736000000000;

uint64_t TicksOf(const struct timespec& time)
{
    return kUnixEpochTicks + static_cast<uint64_t>(time.tv_sec) * 10000000 + static_cast<uint64_t>(time.tv_nsec) / 100;
}

} // namespace

platform::FileStamp StampOfHostFile(const std::wstring& path, const struct stat& info)
{
    platform::FileStamp stamp;
    stamp.known = true;
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.lastWrite = TicksOf(info.st_mtim);
    // The host's change time moves as Windows' does, on a write, a rename
    // or a setting of the times; the one SetLastWrite left stands for the
    // time it set, on the test's clock.
    stamp.changed = TicksOf(info.st_ctim);
    Platform& p = State();
    std::lock_guard<std::mutex> lock(p.mutex);
    const auto set = p.timesSet.find(path);
    if (set != p.timesSet.end() && set->second.file == info.st_ino && set->second.hostChanged == stamp.changed)
        stamp.changed = set->second.fileTime;
    return stamp; // the host keeps no creation time
}

void SetLastWrite(const std::wstring& path, uint64_t fileTime)
{
    const uint64_t unixTicks = fileTime - kUnixEpochTicks;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(unixTicks / 10000000);
    times[1].tv_nsec = static_cast<long>(unixTicks % 10000000 * 100);
    const std::string host = HostPath(path).string();
    struct stat info;
    if (::utimensat(AT_FDCWD, host.c_str(), times, 0) != 0 || ::stat(host.c_str(), &info) != 0)
        return;
    Update([&](Platform& p) { p.timesSet[path] = {static_cast<uint64_t>(info.st_ino), TicksOf(info.st_ctim), fileTime}; });
}

void HoldWriter(const std::wstring& path, int reads, const std::string& partBytes, const std::string& lastBytes,
                bool writingOn)
{
    {
        std::filesystem::create_directories(HostPath(path).parent_path());
        std::ofstream out(HostPath(path), std::ios::binary | std::ios::trunc);
        out << partBytes;
    }
    Update([&](Platform& p) {
        p.heldFile = path;
        p.heldForReads = reads;
        p.heldFileLastBytes = lastBytes;
        p.heldFileGrows = writingOn;
    });
}

} // namespace fake
