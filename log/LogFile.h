#pragma once
#include <string>

// One log file below a program-data folder that the caller already has: its
// path, the frame of an entry, and the append. Below both the folder lookup
// (which reports its own failure here) and the formatted entries.

// The whole entry, framed, as it lands in the file: CR LF, 75 hyphens,
// CR LF, then the message.
std::string FrameLogEntry(const std::string& message);

// Where an entry for `logFileName` goes when the program-data folder is
// `folder` (possibly empty). Empty when the path would exceed the longest
// log path the product allows.
std::wstring LogFilePath(const std::wstring& folder, const wchar_t* logFileName);

// Frames `message` and appends it to the log file below `folder`.
void AppendLogEntry(const std::wstring& folder, const wchar_t* logFileName,
                    const std::string& message);
