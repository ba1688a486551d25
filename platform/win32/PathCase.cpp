#include "platform/PathCase.h"

#include <windows.h>

namespace platform {

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    // The ordinal comparison that the file system uses for names.
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace platform
