#pragma once
#include <string>

// Where the product keeps its files: all of them in its own folder below the
// machine-wide program-data folder. Other components of the product create
// and read these too, so the names never change.

inline constexpr const wchar_t* kProductFolderName = L"Pelorin";
// Inside the product folder.
inline constexpr const wchar_t* kVaultFolderName = L"Vault";
inline constexpr const wchar_t* kMonitoredFolderListName = L"db\\db6";

// The log files, in the product folder.
inline constexpr const wchar_t* kErrorFunctionLogs = L"ErrorFunctionLogs.txt";
inline constexpr const wchar_t* kSuccessAppConLogs = L"SuccessAppConLogs.txt";
inline constexpr const wchar_t* kErrorWindowLogs = L"ErrorWindowLogs.txt";
// What the scanner found and moved to the quarantine folder.
inline constexpr const wchar_t* kSuccessScanLogs = L"SuccessScanLogs.txt";

// Each watcher's progress mark, in the product folder: how far it had dealt
// with new files, for the next start to catch up from.
inline constexpr const wchar_t* kProgramDataMark = L"WatchMarkAppData.txt";
inline constexpr const wchar_t* kProfilesMark = L"WatchMarkProfile.txt";

// Each takes the program-data folder, which may be empty when it could not
// be resolved; the result then starts with a backslash, on the current
// drive. Plain concatenation, no separator checks.
inline std::wstring ProductFolderOf(const std::wstring& programData)
{
    return programData + L"\\" + kProductFolderName;
}

inline std::wstring ProductFileOf(const std::wstring& programData, const wchar_t* name)
{
    return ProductFolderOf(programData) + L"\\" + name;
}

// The quarantine folder that the scanner moves infected files into.
inline std::wstring VaultFolderOf(const std::wstring& programData)
{
    return ProductFileOf(programData, kVaultFolderName);
}

// The quarantine folder relative to the program-data folder.
inline std::wstring VaultBelowProgramData()
{
    return std::wstring(kProductFolderName) + L"\\" + kVaultFolderName;
}
