#pragma once
#include <string>

namespace platform {

// The machine-wide program-data folder (FOLDERID_ProgramData), without a
// trailing separator. False when the shell cannot resolve it.
bool GetProgramDataFolder(std::wstring& folder);

} // namespace platform
