#pragma once
#include <string>
#include <vector>

#include "platform/ScannerProcess.h"

// True when a program that reads its command line in the ANSI code page
// gets exactly `path`, and the system's path rules open exactly it: every
// character exists there as it is, no component ends in a dot or a blank,
// which those rules strip, and none is a device name (CON.exe, nul, COM1),
// which they turn into the device.
bool ReachesScannerExactly(const std::wstring& path);

enum class ScanTargetForm { Exact, ShortPath, Folder, None };

// The path under which root\candidate is handed to the scanner: itself when
// it reaches the scanner exactly; otherwise its short (8.3) path when that
// does; otherwise the nearest folder above it, up to the root, that does in
// either form (the scanner scans a folder whole); None when not even that.
// A path that another character stands in for would name another file, or
// none: the file would never be scanned.
ScanTargetForm ScanTargetOf(const std::wstring& root, const std::u16string& name, std::wstring& target);

struct ScanStart {
    // The scanner's process, for the caller to wait for; null when it was
    // not found or could not be started.
    platform::ProcessHandle process = nullptr;
    // No path to the file can be given to the scanner: trying again changes
    // nothing (reported in "ErrorFunctionLogs.txt").
    bool unscannable = false;
};

// The full path of root\name, as it is reported: where a name, held as the
// file system's UTF-16 units all the way from its record, becomes wide text.
std::wstring FullPathOf(const std::wstring& watchRoot, const std::u16string& name);

// Resolves the target of root\candidate (ScanTargetOf), reporting in
// "ErrorFunctionLogs.txt" a file handed over by its folder, or not at all.
// None when there is no target: trying again changes nothing.
ScanTargetForm PrepareScanTarget(const std::wstring& watchRoot, const std::u16string& name, std::wstring& target);

// Starts one scanner call for prepared targets, with the quarantine folder
// below the program-data folder. It is started directly rather than through
// the command processor, which would expand %NAME% and !NAME! inside file
// names.
ScanStart StartScanCall(const std::wstring& programDataPath, const std::vector<std::wstring>& targets);
