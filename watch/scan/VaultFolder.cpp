#include "watch/scan/VaultFolder.h"

#include <cstdint>
#include <string>

#include "log/LogEntry.h"
#include "platform/FileAccess.h"
#include "log/SystemErrorText.h"
#include "product/ProductLayout.h"

namespace {

constexpr uint32_t kAlreadyExists = 183; // ERROR_ALREADY_EXISTS

// Makes `path` when missing. True when it is a folder afterwards; two
// watchers may make it at the same moment, and the second finds it made.
bool MakeFolder(const std::wstring& path, uint32_t& error, bool& made)
{
    switch (platform::QueryPathKind(path)) {
    case platform::PathKind::Directory:
        return true;
    case platform::PathKind::File:
        error = kAlreadyExists;
        return false;
    case platform::PathKind::Missing:
        break;
    }
    if (platform::CreateFolder(path, error)) {
        made = true;
        return true;
    }
    return error == kAlreadyExists && platform::QueryPathKind(path) == platform::PathKind::Directory;
}

} // namespace

VaultState EnsureVaultFolder(const std::wstring& programDataPath, std::string& reason)
{
    const std::wstring vault = VaultFolderOf(programDataPath);
    switch (platform::QueryPathKind(vault)) {
    case platform::PathKind::Directory:
        return VaultState::Ready;
    case platform::PathKind::File:
        reason = "is not a folder";
        return VaultState::NotAFolder;
    case platform::PathKind::Missing:
        break;
    }
    uint32_t error = 0;
    bool made = false;
    if (!MakeFolder(ProductFolderOf(programDataPath), error, made) || !MakeFolder(vault, error, made)) {
        if (platform::QueryPathKind(vault) == platform::PathKind::File) {
            reason = "is not a folder";
            return VaultState::NotAFolder;
        }
        reason = "is missing and could not be made (" + SystemReasonOf(error) + ")";
        return VaultState::Unmade;
    }
    if (made)
        WriteLogEntry(kErrorFunctionLogs, L"PELMON: the quarantine folder \"%s\" was missing; it was made again.",
                      vault.c_str());
    return made ? VaultState::Created : VaultState::Ready;
}
