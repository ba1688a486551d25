#pragma once
#include <string>

namespace platform {

enum class PathKind { Missing, Directory, File };

// What a path names, from its attributes.
PathKind QueryPathKind(const std::wstring& path);

// Reads a whole file in byte mode without denying readers or writers. False
// when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

} // namespace platform
