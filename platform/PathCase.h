#pragma once
#include <string>

namespace platform {

// True when two pieces of path text name the same thing to the file system:
// equal after the system's own upper-casing, unit for unit, with no other
// normalisation.
bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b);

} // namespace platform
