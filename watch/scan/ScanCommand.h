#pragma once
#include <cstddef>
#include <string>
#include <vector>

// The scanner's command line, all of it in one place: the program, the
// quoting of each argument, and how wide a line may grow.

// Found where the command processor would find it: the current directory,
// then the search path.
inline constexpr wchar_t kScannerProgram[] = L"clamdscan.exe";

// A call's command line stays within this many characters, below the
// system's 32,767 with room to spare.
inline constexpr std::size_t kCommandChars = 30000;

// clamdscan.exe --move="<vault>" "<target>"... Each argument is quoted the
// way CommandLineToArgvW and the C runtime split a command line, so each
// comes back as exactly one argument, whatever it holds.
std::wstring BuildScanCommand(const std::wstring& vault, const std::vector<std::wstring>& targets);

// The characters a target adds to the line: a blank and its quoted form.
std::size_t CommandCharsOf(const std::wstring& target);

// Asks the scanner's daemon, once, whether it answers: clamdscan.exe
// --ping=1. No file name is on it, so nobody who names a file can steer
// what it says about the scanner.
std::wstring BuildPingCommand();
