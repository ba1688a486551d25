#include "watch/names/LongNames.h"

#include "platform/FileAccess.h"
#include "watch/names/Utf16.h"

std::u16string LongNameOf(const std::wstring& root, const std::u16string& recorded)
{
    if (recorded.find(u'~') == std::u16string::npos)
        return recorded;
    const std::wstring prefix = root + L'\\';
    std::wstring longPath;
    if (!platform::LongNamePathOf(prefix + WideOfUnits(recorded), longPath))
        return recorded;
    // Compared unit for unit: the name must be the root's own, with no
    // case or form of it changed on the way.
    if (longPath.size() <= prefix.size() || longPath.compare(0, prefix.size(), prefix) != 0)
        return recorded;
    return UnitsOfWide(longPath.substr(prefix.size()));
}
