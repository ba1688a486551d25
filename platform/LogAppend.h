#pragma once
#include <string>

namespace platform {

// Appends `bytes` to the file at `path` with one atomic append, creating the
// file but never a folder. Failures are silent: diagnostics must never stop
// the monitor.
void AppendToFile(const std::wstring& path, const std::string& bytes);

} // namespace platform
