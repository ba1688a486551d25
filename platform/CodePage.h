#pragma once
#include <string>

namespace platform {

// Exact conversion to the ANSI code page: false if any character has no
// exact representation there, so that a program reading its command line
// in that code page would see something else.
bool WideToAnsiExact(const std::wstring& text, std::string& ansi);

} // namespace platform
