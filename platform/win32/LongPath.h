#pragma once
#include <string>

namespace platform {

// The form of root\relative that lifts the MAX_PATH limit: \\?\C:\... or
// \\?\UNC\server\share\...
inline std::wstring LongPathOf(const std::wstring& root, const std::u16string& relative)
{
    std::wstring path;
    if (root.compare(0, 4, L"\\\\?\\") == 0)
        path = root;
    else if (root.compare(0, 2, L"\\\\") == 0)
        path = L"\\\\?\\UNC\\" + root.substr(2);
    else
        path = L"\\\\?\\" + root;
    if (!relative.empty()) {
        path += L'\\';
        path.append(reinterpret_cast<const wchar_t*>(relative.data()), relative.size());
    }
    return path;
}

} // namespace platform
