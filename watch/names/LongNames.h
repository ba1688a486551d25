#pragma once
#include <string>

// The name of root\recorded with its short (8.3) aliases made long, for
// the filters: a change record names a file as the program that made it
// opened it, and alice\DOWNLO~1\x.exe would miss the list line Downloads.
// Only a name with a "~" in it is looked up, as every alias the system
// makes has one. The recorded name stays when the file is gone, or when
// the long path does not lie under the root exactly as it is written.
// Names in UTF-16 units, as records give them.
std::u16string LongNameOf(const std::wstring& root, const std::u16string& recorded);
