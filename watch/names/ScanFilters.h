#pragma once
#include <wx/string.h>

#include <string>
#include <string_view>
#include <vector>

// True when the candidate's extension (the text after the last '.' of the
// whole relative path, or the whole path when it has no '.') is one of the
// media, document, log and temporary-file extensions that are never
// scanned. Exact and case-sensitive.
bool IsExcludedExtension(std::u16string_view candidate);

// True when a candidate of the program-data tree is the product's quarantine
// folder or lies inside it, compared as Windows compares paths. The scanner
// moves every infected file there, under a new name when its own is taken;
// handing those back to it would move them on and on.
bool IsInVaultFolder(std::u16string_view candidate);

// True when some non-empty line of the monitored-folder list file, as it
// stands, occurs in the candidate (see MonitoredFolderList: read again only
// when it may have changed, never while it is being written). While it is
// missing every call logs that to "ErrorWindowLogs.txt" and answers false.
bool IsInMonitoredFolderList(std::u16string_view candidate);

// True when one of the lines, an empty one too, occurs in the candidate,
// line by line: the plain reading, which the fuzzer holds the index to.
// Both are compared as UTF-16 code units, as the Windows build holds them,
// so that both builds match alike also where a line holds half of a
// surrogate pair.
bool AnyLineOccursIn(std::u16string_view candidate, const std::vector<wxString>& lines);
