#pragma once
#include <string>

namespace platform {

// The root folder of all user profiles, read into a buffer of 260 units.
// False when the call fails (for instance a root of 260 units or more).
bool GetProfilesRoot(std::wstring& root);

} // namespace platform
