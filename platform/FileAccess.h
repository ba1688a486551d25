#pragma once
#include <string>

namespace platform {

enum class PathKind { Missing, Directory, File };

// What a path names, from its attributes.
PathKind QueryPathKind(const std::wstring& path);

// How a new entry below a watched root stands when its turn to be scanned
// comes.
enum class ArrivalState {
    Missing,      // gone, or renamed away
    Folder,
    BeingWritten, // another handle may still write to it
    Complete,     // nobody writes to it, or that cannot be told
};

// Opens the file for reading while sharing only reading, which fails with a
// sharing violation while any other handle may write to it, and closes it
// at once. The relative name is in UTF-16 units as change records give it;
// paths of any length.
ArrivalState QueryArrivalState(const std::wstring& root, const std::u16string& relative);

// The short (8.3) form of an existing path, where its volume keeps short
// names. False when the path does not exist or has no short form.
bool ShortPathOf(const std::wstring& path, std::wstring& shortPath);

// Reads a whole file in byte mode without denying readers or writers. False
// when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

} // namespace platform
