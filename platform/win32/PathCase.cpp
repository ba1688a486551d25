#include "platform/PathCase.h"

#include <windows.h>

namespace platform {

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    // The ordinal comparison that the file system uses for names; wchar_t
    // is a UTF-16 unit here.
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace platform
