#pragma once
#include <wx/string.h>

#include <string>

#include "watch/KillGate.h"

// The scanner command line: clamdscan.exe --move="<vault>" "<root>\<candidate>",
// with every piece taken exactly as received.
wxString BuildScanCommand(const std::wstring& programDataPath, const std::wstring& watchRoot,
                          const wxString& candidate);

// Runs the command and waits, with no time-out, until the scanner has exited;
// its result is ignored. The scanner is started directly rather than through
// the command processor, which would expand %NAME% and !NAME! inside file
// names. A command that has no exact form in the ANSI code page, or a scanner
// that cannot be found, means no scan. The wait is a parking point of the
// calling watcher's kill gate.
void DispatchScan(const wxString& command, KillGate& gate);
