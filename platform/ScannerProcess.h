#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct ProcessHandleTag;
using ProcessHandle = ProcessHandleTag*;

// Starts the scanner client `program`, found where the command processor
// would find it (the current directory, then the search path), with
// exactly `commandLine` as its command line (CreateProcessW: a program
// with a narrow main gets it in the ANSI code page), and returns at once.
// What it prints goes to a temporary file of its own. Null when it is not
// found or cannot be started.
ProcessHandle StartScanner(const std::wstring& program, const std::wstring& commandLine);

// Once it has ended: what it printed, at most `limit` bytes of it. False
// when its output could not be kept.
bool ScannerOutput(ProcessHandle process, std::size_t limit, std::string& output);

// True once the process has exited; never blocks.
bool ProcessExited(ProcessHandle process);

// Once it has exited: how it ended. False when that cannot be read.
bool ProcessExitCode(ProcessHandle process, uint32_t& code);

// Ends a scanner that has run past its time; it is closed as usual after.
void EndProcess(ProcessHandle process);

void CloseProcess(ProcessHandle process);

} // namespace platform
