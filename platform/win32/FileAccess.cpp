#include "platform/FileAccess.h"

#include <windows.h>
// after windows.h, which they need
#include <winioctl.h>
#include <winternl.h>

#include <utility>

#include "platform/win32/LongPath.h"

namespace platform {

namespace {

bool IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Asks for a read-handle oplock on `file`: not granted while another handle
// may write to it. A granted one is given back at once; a writer opening
// the file meanwhile only breaks it, and a read oplock's break makes
// nobody wait. Where the system grants no oplocks (Wine, some network
// redirectors) nothing can be told.
// The watched root whose volume answered that it grants no oplocks, for
// this thread (each watcher is one thread with one root). Its files are
// then looked at by their attributes alone: a handle, an event and a
// refused request for every look would cost several times as much and tell
// nothing more. A folder mounted below the root on another volume is then
// judged by size and time too, as where no oplocks are granted.
thread_local std::wstring t_rootWithoutOplocks;

bool GrantsNoOplocks(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

ArrivalState WriterState(HANDLE file, const std::wstring& root)
{
    REQUEST_OPLOCK_INPUT_BUFFER request{};
    request.StructureVersion = REQUEST_OPLOCK_CURRENT_VERSION;
    request.StructureLength = sizeof(request);
    request.RequestedOplockLevel = OPLOCK_LEVEL_CACHE_READ | OPLOCK_LEVEL_CACHE_HANDLE;
    request.Flags = REQUEST_OPLOCK_INPUT_FLAG_REQUEST;
    REQUEST_OPLOCK_OUTPUT_BUFFER reply{};
    reply.StructureVersion = REQUEST_OPLOCK_CURRENT_VERSION;
    reply.StructureLength = sizeof(reply);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent)
        return ArrivalState::WriterUnknown;
    ArrivalState state = ArrivalState::WriterUnknown;
    if (!DeviceIoControl(file, FSCTL_REQUEST_OPLOCK, &request, sizeof(request), &reply, sizeof(reply), nullptr,
                         &overlapped)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            // Granted: it stays pending until broken. The request must have
            // ended before its buffers go away.
            CancelIoEx(file, &overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(file, &overlapped, &ignored, TRUE);
            state = ArrivalState::NoWriter;
        } else if (error == ERROR_OPLOCK_NOT_GRANTED) {
            state = ArrivalState::BeingWritten;
        } else if (GrantsNoOplocks(error)) {
            t_rootWithoutOplocks = root;
        }
    }
    CloseHandle(overlapped.hEvent);
    return state;
}

ArrivalLook LookAtAttributes(const std::wstring& path)
{
    ArrivalLook look;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        look.state = IsMissing(GetLastError()) ? ArrivalState::Missing : ArrivalState::WriterUnknown;
        return look;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        look.state = ArrivalState::Folder;
        return look;
    }
    look.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    look.lastWrite = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
    look.state = ArrivalState::WriterUnknown;
    return look;
}

} // namespace

bool LooksByAttributesAlone(const std::wstring& root)
{
    return !t_rootWithoutOplocks.empty() && t_rootWithoutOplocks == root;
}

ArrivalLook LookAtArrival(const std::wstring& root, const std::u16string& relative)
{
    const std::wstring path = LongPathOf(root, relative);
    if (LooksByAttributesAlone(root))
        return LookAtAttributes(path);
    ArrivalLook look;
    // Attributes only, and every kind of sharing: no open of another program
    // can fail because of this handle, not even one that shares nothing,
    // and it breaks nobody's oplock. Backup semantics open folders too.
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // Anything but its absence (access denied, say) is the scanner's to meet.
        look.state = IsMissing(GetLastError()) ? ArrivalState::Missing : ArrivalState::WriterUnknown;
        return look;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        look.state = ArrivalState::WriterUnknown;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        look.state = ArrivalState::Folder;
    } else {
        look.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        look.lastWrite = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                         info.ftLastWriteTime.dwLowDateTime;
        look.state = WriterState(file, root);
    }
    CloseHandle(file);
    return look;
}

ArrivalState QueryArrivalState(const std::wstring& root, const std::u16string& relative)
{
    // Whether it is there is all that is asked: no writer test.
    return LookAtAttributes(LongPathOf(root, relative)).state;
}

namespace {

using PathConversion = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);

bool Ask(PathConversion convert, const std::wstring& path, std::wstring& answer)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = convert(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(length + 1);
    }
    answer = std::move(buffer);
    return true;
}

bool IsFullPath(const std::wstring& path)
{
    return (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') || path.compare(0, 2, L"\\\\") == 0;
}

// Asks `convert` (GetShortPathNameW or GetLongPathNameW) about `path` in its
// \\?\ form, so that the system's path rules change nothing on the way (a
// component named CON.exe would be the console, one ending in a dot would
// lose it), and gives the answer back in the form of `path`.
bool ConvertedPath(PathConversion convert, const std::wstring& path, std::wstring& converted)
{
    converted.clear();
    // Only a full path has a \\?\ form; the rest (none is expected) goes as it is.
    const bool full = IsFullPath(path);
    if (!Ask(convert, full ? LongPathOf(path, std::u16string()) : path, converted))
        return false;
    if (full && path.compare(0, 4, L"\\\\?\\") != 0) {
        if (converted.compare(0, 8, L"\\\\?\\UNC\\") == 0)
            converted.replace(0, 8, L"\\\\");
        else if (converted.compare(0, 4, L"\\\\?\\") == 0)
            converted.erase(0, 4);
    }
    return true;
}

// Whether the system's path rules leave the plain path as it is: no device
// name, no trailing dot or blank, nothing to resolve. A string operation.
bool PlainPathIsLiteral(const std::wstring& path)
{
    std::wstring full;
    return Ask([](LPCWSTR in, LPWSTR out, DWORD size) { return GetFullPathNameW(in, size, out, nullptr); }, path,
               full) &&
           full == path;
}

} // namespace

bool ShortPathOf(const std::wstring& path, std::wstring& shortPath)
{
    return ConvertedPath(GetShortPathNameW, path, shortPath);
}

bool LongNamePathOf(const std::wstring& path, std::wstring& longPath)
{
    if (!ConvertedPath(GetLongPathNameW, path, longPath))
        return false;
    // Wine answers a \\?\ path with the path itself, aliases and all (8.0);
    // the plain path, where the path rules take it as it is, it answers.
    std::wstring plain;
    if (longPath == path && PlainPathIsLiteral(path) && Ask(GetLongPathNameW, path, plain))
        longPath = std::move(plain);
    return true;
}

PathKind QueryPathKind(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool CreateFolder(const std::wstring& path, uint32_t& error)
{
    if (CreateDirectoryW(path.c_str(), nullptr))
        return true;
    error = GetLastError();
    return false;
}

namespace {

// Appends what is left of the file to `bytes`, or of it one byte more than
// `limit`; false when a read fails.
bool ReadToEnd(HANDLE file, std::string& bytes, std::size_t limit = SIZE_MAX)
{
    char chunk[16384];
    while (bytes.size() <= limit) {
        const std::size_t room = limit - bytes.size();
        const DWORD want = room >= sizeof(chunk) ? sizeof(chunk) : static_cast<DWORD>(room + 1);
        DWORD got = 0;
        if (!ReadFile(file, chunk, want, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        bytes.append(chunk, got);
    }
    return true;
}

} // namespace

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::size_t limit)
{
    bytes.clear();
    // Full sharing: another component replaces the list file by a rename,
    // which must not fail while it is read here.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ReadToEnd(file, bytes, limit);
    CloseHandle(file);
    if (!ok)
        bytes.clear();
    return ok;
}

namespace {

FileTime TimeOf(const LARGE_INTEGER& time)
{
    return static_cast<FileTime>(time.QuadPart);
}

// The attributes by path with the change time, which GetFileAttributesExW
// leaves out, from the call it makes itself. Asked of ntdll by name.
using QueryFullAttributes = LONG(NTAPI*)(POBJECT_ATTRIBUTES, PFILE_NETWORK_OPEN_INFORMATION);
using DosPathToNtPath = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PCWSTR*, PVOID);
using FreeUnicodeString = VOID(NTAPI*)(PUNICODE_STRING);

struct AttributeQueries {
    QueryFullAttributes query = nullptr;
    DosPathToNtPath toNtPath = nullptr;
    FreeUnicodeString free = nullptr;
};

const AttributeQueries& Queries()
{
    static const AttributeQueries queries = [] {
        AttributeQueries found;
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            found.query = reinterpret_cast<QueryFullAttributes>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryFullAttributesFile")));
            found.toNtPath = reinterpret_cast<DosPathToNtPath>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U")));
            found.free = reinterpret_cast<FreeUnicodeString>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlFreeUnicodeString")));
        }
        if (!found.toNtPath || !found.free)
            found.query = nullptr;
        return found;
    }();
    return queries;
}

} // namespace

PathKind StampOf(const std::wstring& path, FileStamp& stamp)
{
    stamp = FileStamp{};
    const AttributeQueries& queries = Queries();
    UNICODE_STRING ntPath{};
    if (!queries.query || !queries.toNtPath(path.c_str(), &ntPath, nullptr, nullptr))
        return QueryPathKind(path); // a file without a stamp is read
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ntPath, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    FILE_NETWORK_OPEN_INFORMATION info;
    const LONG status = queries.query(&attributes, &info);
    queries.free(&ntPath);
    if (status < 0)
        return QueryPathKind(path); // missing, or not to be asked
    if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    stamp.known = true;
    stamp.size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
    stamp.lastWrite = TimeOf(info.LastWriteTime);
    stamp.changed = TimeOf(info.ChangeTime);
    stamp.created = TimeOf(info.CreationTime);
    return PathKind::File;
}

SettledRead ReadSettledFile(const std::wstring& path, std::string& bytes, FileStamp& stamp)
{
    bytes.clear();
    stamp = FileStamp{};
    // Writing is not shared: the open fails while a writer holds the file,
    // and no writer gets in until the read is done. Deleting is, so that a
    // replace by a rename goes on.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? SettledRead::BeingWritten : SettledRead::Failed;
    FILE_BASIC_INFO times;
    FILE_STANDARD_INFO standard;
    bool ok = GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof(times)) &&
              GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) &&
              !standard.Directory;
    if (ok) {
        stamp.known = true;
        stamp.size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
        stamp.lastWrite = TimeOf(times.LastWriteTime);
        stamp.changed = TimeOf(times.ChangeTime);
        stamp.created = TimeOf(times.CreationTime);
        // The size cannot change under this handle; reading on to the end
        // all the same costs one more call.
        if (stamp.size < (uint64_t(1) << 31))
            bytes.reserve(static_cast<std::size_t>(stamp.size));
        ok = ReadToEnd(file, bytes);
    }
    CloseHandle(file);
    if (!ok) {
        bytes.clear();
        stamp = FileStamp{};
        return SettledRead::Failed;
    }
    return SettledRead::Read;
}

bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes, uint32_t& error)
{
    const std::wstring fresh = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE file = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file);
    if (!ok)
        error = GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        ok = false;
    }
    if (!ok)
        DeleteFileW(fresh.c_str());
    return ok;
}

} // namespace platform
