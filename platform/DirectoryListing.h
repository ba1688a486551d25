#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// File times in 100 ns units since 1601, as FILETIME counts them.
using FileTime = uint64_t;

struct DirectoryEntry {
    std::u16string name;
    bool directory = false;
    // A junction, symbolic link or other reparse point: never to be
    // followed, since it may lead elsewhere or back up the tree.
    bool reparsePoint = false;
    FileTime created = 0;
    FileTime written = 0;
    // The last change of the entry's name or attributes as well as of its
    // content: a rename or a move into the tree sets it.
    FileTime changed = 0;
};

// The entries of the folder `relative` (UTF-16 units as change records give
// them, without a leading separator; empty for the root itself) below
// `root`, without "." and "..". Paths of any length. False when the folder
// cannot be opened or read.
bool ListDirectory(const std::wstring& root, const std::u16string& relative,
                   std::vector<DirectoryEntry>& entries);

} // namespace platform
