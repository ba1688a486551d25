#pragma once
#include <string>

namespace platform {

// The machine-wide program-data folder (FOLDERID_ProgramData), without a
// trailing separator. False when the shell cannot resolve it.
bool GetProgramDataFolder(std::wstring& folder);

// The root folder of all user profiles, read into a buffer of 260 units.
// False when the call fails (for instance a root of 260 units or more).
bool GetProfilesRoot(std::wstring& root);

} // namespace platform
