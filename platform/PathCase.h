#pragma once
#include <string_view>

namespace platform {

// True when two pieces of path text name the same thing to the file system:
// equal after the system's own upper-casing, unit for unit, with no other
// normalisation.
// In UTF-16 units, as the file system holds names.
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b);

} // namespace platform
