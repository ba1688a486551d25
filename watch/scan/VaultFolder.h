#pragma once
#include <string>

// The quarantine folder is the monitor's to keep: clamdscan refuses every
// scan, clean files too, when the folder its --move names is missing or is
// not a folder, so without it nothing would be scanned at all.
enum class VaultState {
    Ready,      // a folder, there all along
    Created,    // it was missing, and has been made
    NotAFolder, // something else stands in its place
    Unmade,     // it is missing and could not be made
};

// Looks at the quarantine folder below the program-data folder and makes it
// (and the product folder above it) when missing, with the permissions the
// product folder passes on: the product's installer decides who may reach
// its files, and an account the monitor does not know of (the daemon's)
// must be able to move threats in. A folder made is reported in
// "ErrorFunctionLogs.txt"; when it cannot be had, `reason` says why, for
// the caller to report once.
VaultState EnsureVaultFolder(const std::wstring& programDataPath, std::string& reason);
