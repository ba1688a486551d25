#pragma once
#include <cstddef>
#include <string>

namespace platform {

// UTF-16 text to the system ANSI code page with the system's best-fit
// mapping; characters without a best fit become the default character.
// Sized from the input, so names of any length convert whole.
std::string Utf16ToAnsiBestFit(const char16_t* text, std::size_t units);

// Exact conversion to the ANSI code page: false if any character has no
// exact representation there.
bool WideToAnsiExact(const std::wstring& text, std::string& ansi);

// ANSI code page to wide text: false on an invalid multibyte sequence.
bool AnsiToWide(const std::string& ansi, std::wstring& text);

} // namespace platform
