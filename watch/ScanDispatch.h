#pragma once
#include <wx/string.h>

#include <string>

#include "platform/ScannerProcess.h"

// The scanner command line: clamdscan.exe --move="<vault>" "<root>\<candidate>",
// with every piece taken exactly as received.
wxString BuildScanCommand(const std::wstring& programDataPath, const std::wstring& watchRoot,
                          const wxString& candidate);

// Starts the scanner with the command and returns its process, for the
// caller to wait for without a time-out; its result is ignored. The scanner
// is started directly rather than through the command processor, which
// would expand %NAME% and !NAME! inside file names. A command that has no
// exact form in the ANSI code page, or a scanner that cannot be found, means
// no scan: null.
platform::ProcessHandle StartScan(const wxString& command);
