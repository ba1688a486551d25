#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The system's message text for an error code, in the ANSI code page and
// untrimmed (it usually ends with CR LF); empty when the system has none.
std::string FormatSystemMessage(uint32_t code);

} // namespace platform
