#include "platform/FileAccess.h"

#include <windows.h>

#include <utility>

#include "platform/win32/LongPath.h"

namespace platform {

ArrivalState QueryArrivalState(const std::wstring& root, const std::u16string& relative)
{
    const std::wstring path = LongPathOf(root, relative);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        // Anything else (access denied, say) is the scanner's to meet.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ArrivalState::Missing
                   : ArrivalState::Complete;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ArrivalState::Folder;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
            return ArrivalState::BeingWritten;
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ArrivalState::Missing
                   : ArrivalState::Complete;
    }
    // Held for no longer than this: a writer opening it meanwhile would fail.
    CloseHandle(file);
    return ArrivalState::Complete;
}

bool ShortPathOf(const std::wstring& path, std::wstring& shortPath)
{
    shortPath.clear();
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetShortPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(length + 1);
    }
    shortPath = std::move(buffer);
    return true;
}

PathKind QueryPathKind(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    char chunk[16384];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    if (!ok)
        bytes.clear();
    return ok;
}

} // namespace platform
